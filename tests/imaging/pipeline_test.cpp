// The frame operations run in one order, and the early alpha drop follows
// the table's own account of which later steps need the channel.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pipeline.h"

namespace {

TEST(FramePipeline, StepsRunInTheirOneOrder) {
    const std::vector<std::string> expected = {"rotate",    "drop unused alpha", "resize", "size limit",
                                               "flip",      "tones",             "greyscale", "threshold",
                                               "frame",     "watermark",         "bit depth"};
    std::vector<std::string> names;
    for (const kestrune::FrameStep& step : kestrune::FrameSteps()) names.push_back(step.name);
    EXPECT_EQ(names, expected);
}

TEST(FramePipeline, AlphaIsKeptOnlyForAnActiveStepThatNeedsIt) {
    struct Case {
        int8_t kestrune::Settings::*field;
        bool needed;
    };
    const Case cases[] = {
        {&kestrune::Settings::do_image_flip_vertical, false}, {&kestrune::Settings::do_image_rotation, false},
        {&kestrune::Settings::do_image_color_correction, true}, {&kestrune::Settings::do_image_greyscale, true},
        {&kestrune::Settings::do_image_threshold, true},      {&kestrune::Settings::do_frame, true},
        {&kestrune::Settings::do_watermark, true},
    };
    kestrune::Settings none;
    kestrune::SetDefaultSettings(none, true);
    for (const Case& c : cases) none.*(c.field) = 0;
    EXPECT_FALSE(kestrune::AlphaNeededAfter("drop unused alpha", none));
    for (const Case& c : cases) {
        kestrune::Settings s = none;
        s.*(c.field) = 1;
        EXPECT_EQ(kestrune::AlphaNeededAfter("drop unused alpha", s), c.needed);
        // Nothing after the last step needs anything.
        EXPECT_FALSE(kestrune::AlphaNeededAfter("bit depth", s));
    }
}

}  // namespace
