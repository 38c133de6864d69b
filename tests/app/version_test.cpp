#include <gtest/gtest.h>

#include "app/version.h"

namespace kestrune {
namespace {

TEST(VersionDisplayTest, FollowsTheDotRule) {
    EXPECT_EQ(VersionDisplay(250), "2.5");
    EXPECT_EQ(VersionDisplay(251), "2.5.1");
    EXPECT_EQ(VersionDisplay(300), "3.0");
    EXPECT_EQ(TitleWithVersion(), "Tarvel GIF to IMAGE 2.5");
}

}  // namespace
}  // namespace kestrune
