// The columns of the settings rows hold together: what the listing joins,
// the switches settings hang on and the checks all name things that exist,
// so a row added or changed cannot point nowhere.
#include <string_view>

#include <gtest/gtest.h>

#include "settings/settings.h"

using namespace kestrune;

namespace {

const SettingKey* RowOfField(const SettingField& field) {
    for (const SettingKey& k : SettingKeys())
        if (k.field == field) return &k;
    return nullptr;
}

TEST(SettingRows, EveryColumnNamesSomethingThatExists) {
    const auto keys = SettingKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const SettingKey& k = keys[i];
        SCOPED_TRACE(std::string(k.group) + "/" + k.key);
        if (k.listing.join_next) {
            ASSERT_LT(i + 1, keys.size());
            EXPECT_EQ(keys[i + 1].listing.label, nullptr) << "a joined key has no line of its own";
            EXPECT_EQ(keys[i + 1].use.when, k.use.when) << "a joined key is in use with its line";
        }
        if (k.use.when) {
            const SettingKey* on = RowOfField(k.use.when);
            ASSERT_NE(on, nullptr);
            EXPECT_STREQ(on->group, k.group) << "a switch of another group";
        }
        if (k.check.kind != CheckKind::None) {
            EXPECT_NE(k.check.message, nullptr);
            EXPECT_LE(k.range.low, k.range.high);
            EXPECT_NE(k.kind, SettingKind::Text);
        }
        if (!k.listing.names.empty()) {
            EXPECT_EQ(k.table, kNoTable) << "named twice";
        }
    }
}

// A value at either end of a checked range passes, one step beyond fails.
TEST(SettingRows, ChecksKeepToTheRangeOfTheirRow) {
    Settings s;
    SetDefaultSettings(s, true);
    s.do_image_color_correction = 1;
    ASSERT_EQ(CheckSettings(s, "jpg"), nullptr);
    s.image_gamma = 0.01f;
    EXPECT_EQ(CheckSettings(s, "bmp"), nullptr);
    s.image_gamma = 9.99f;
    EXPECT_EQ(CheckSettings(s, "bmp"), nullptr);
    s.image_gamma = 9.991f;
    ASSERT_NE(CheckSettings(s, "bmp"), nullptr);
    EXPECT_STREQ(CheckSettings(s, "bmp")->key, "Image Gamma");
    s.do_image_color_correction = 0;
    EXPECT_EQ(CheckSettings(s, "bmp"), nullptr) << "not in use, not checked";
}

}  // namespace
