#include <cmath>
#include <limits>
#include <map>

#include "platform/text.h"
#include "settings_fixture.h"

using namespace kestrune;

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

}  // namespace

// ---------------------------------------------------------------- conversions

TEST(ConvertIntegerTest, ReadsDecimalHexAndBinaryUpToTheFirstUnfitCharacter) {
    EXPECT_EQ(ConvertInteger("$5A"), 90);
    EXPECT_EQ(ConvertInteger("$5a"), 90);
    EXPECT_EQ(ConvertInteger("%101"), 5);
    EXPECT_EQ(ConvertInteger("%1012"), 5);
    EXPECT_EQ(ConvertInteger("12px"), 12);
    EXPECT_EQ(ConvertInteger("abc"), 0);
    EXPECT_EQ(ConvertInteger(""), 0);
    EXPECT_EQ(ConvertInteger("$"), 0);
    EXPECT_EQ(ConvertInteger("%"), 0);
    EXPECT_EQ(ConvertInteger("1e3"), 1);
    EXPECT_EQ(ConvertInteger("3.9"), 3);
    EXPECT_EQ(ConvertInteger(" \t42"), 42);
    EXPECT_EQ(ConvertInteger("-50"), -50);
    EXPECT_EQ(ConvertInteger("+$ff"), 255);
    EXPECT_EQ(ConvertInteger("-%11"), -3);
    EXPECT_EQ(ConvertInteger("- 5"), 0);
    EXPECT_EQ(ConvertInteger("--50"), 0);
}

TEST(ConvertIntegerTest, SaturatesBeyondThirtyTwoBits) {
    EXPECT_EQ(ConvertInteger("2147483647"), kMax);
    EXPECT_EQ(ConvertInteger("2147483648"), kMax);
    EXPECT_EQ(ConvertInteger("-2147483648"), kMin);
    EXPECT_EQ(ConvertInteger("-2147483649"), kMin);
    EXPECT_EQ(ConvertInteger("99999999999999999999999999"), kMax);
    EXPECT_EQ(ConvertInteger("-99999999999999999999999999"), kMin);
    EXPECT_EQ(ConvertInteger("$FFFFFFFF"), kMax);
    EXPECT_EQ(ConvertInteger("$7FFFFFFF"), kMax);
    EXPECT_EQ(ConvertInteger("-$80000000"), kMin);
    EXPECT_EQ(ConvertInteger("%" + std::string(200, '1')), kMax);
}

TEST(ConvertRealTest, ReadsInfinityNanAndDecimalNumbers) {
    EXPECT_EQ(ConvertReal("+Infinity"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(ConvertReal("+INFINITY"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(ConvertReal("-infinity"), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(ConvertReal("nan")));
    EXPECT_TRUE(std::isnan(ConvertReal("NaN")));
    EXPECT_FLOAT_EQ(ConvertReal("0.5"), 0.5f);
    EXPECT_FLOAT_EQ(ConvertReal("2.5x"), 2.5f);
    EXPECT_FLOAT_EQ(ConvertReal("-1.25"), -1.25f);
    EXPECT_EQ(ConvertReal("abc"), 0.0f);
    EXPECT_EQ(ConvertReal("Infinity"), 0.0f);  // the sign is part of the word
    EXPECT_EQ(ConvertReal("inf"), 0.0f);
}

TEST(OptionNameTest, UpperCasedNameBeforeTheFirstEqualsSign) {
    EXPECT_EQ(OptionName("  --Jpg-Quality=80 "), "--JPG-QUALITY");
    EXPECT_EQ(OptionName("--input"), "--INPUT");
    EXPECT_EQ(OptionName("-q"), "-Q");
    EXPECT_EQ(OptionName("-q=1"), "-Q=1");  // short options are whole parameters
    EXPECT_EQ(OptionName("file.gif"), "");
    EXPECT_EQ(OptionName(""), "");

    EXPECT_EQ(OptionValue(" --wm-text=a=b "), "a=b");
    EXPECT_EQ(OptionValue("--jpg-quality="), "");
    EXPECT_EQ(OptionValue("--input"), "--input");
    EXPECT_EQ(OptionValue("  name.gif  "), "name.gif");
}

// ---------------------------------------------------------------- the walk

TEST_F(SettingsTest, ShortInputTakesTheNextParameter) {
    const ParseResult r = Parse({"-i", "photo.gif", "-o", "out", "-c", "png"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(run_request.input_path, "photo.gif");
    EXPECT_TRUE(run_request.input_given);
    EXPECT_EQ(run_request.output_folder, "out");
    EXPECT_EQ(run_request.conversion, "png");
}

TEST_F(SettingsTest, LongInputTakesItsOwnValue) {
    const ParseResult r = Parse({"--input=photo.gif", "--OUTPUT=out", "--conversion=jpg"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(run_request.input_path, "photo.gif");
    EXPECT_TRUE(run_request.input_given);
    EXPECT_EQ(run_request.output_folder, "out");
    EXPECT_EQ(run_request.conversion, "jpg");
}

TEST_F(SettingsTest, MissingValuesOfInputOutputAndConversion) {
    const std::vector<std::vector<std::string>> cases = {
        {"-i"},                       // last parameter
        {"--input", "photo.gif"},     // long form without "="
        {"--input="},                 // empty
        {"-i", ""},                   // empty next parameter
        {"-i", "   "},                // blank next parameter
        {"-i", "-o", "out"},          // next is an option
        {"-i", "--output=out"},       // next is an option with a value
        {"--input=-x.gif"},
        {"-o"},
        {"--output=-out"},
        {"-c"},
        {"--conversion="},
    };
    for (const auto& params : cases) {
        SetUp();
        EXPECT_EQ(Parse(params).error, "Incorrect number of parameters") << params[0];
    }
}

TEST_F(SettingsTest, InputGivenIsSetAsSoonAsTheOptionIsMet) {
    EXPECT_EQ(Parse({"-i"}).error, "Incorrect number of parameters");
    EXPECT_TRUE(run_request.input_given);
}

TEST_F(SettingsTest, OtherValuesMayStartWithOneMinusButNotTwo) {
    ParseResult r = Parse({"--brightness=-50"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(settings.image_brightness, -50);
    EXPECT_EQ(settings.do_image_color_correction, 1);

    SetUp();
    r = Parse({"--jpg-quality=80", "--brightness=--50", "--contrast=20"});
    EXPECT_EQ(r.error, "Incorrect number of parameters");
    EXPECT_EQ(settings.jpg_quality, 80) << "options before the error stay applied";
    EXPECT_EQ(settings.image_contrast, 0) << "options after the error are not read";

    for (const char* p : {"--jpg-quality=", "--wm-text=", "--resize-algorithm=", "--gamma=--1", "--profile="}) {
        SetUp();
        EXPECT_EQ(Parse({p}).error, "Incorrect number of parameters") << p;
    }
}

TEST_F(SettingsTest, LenientValuesAreNoErrors) {
    const ParseResult r = Parse({"--brightness=abc", "--resize-algorithm=foo", "--jpg-quality=$5A",
                                 "--gamma=0.5", "--rotation=12px"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(settings.image_brightness, 0);
    EXPECT_EQ(settings.do_image_color_correction, 1);
    EXPECT_EQ(settings.image_resize_algorithm, 0);  // BOX, not the default BICUBIC
    EXPECT_EQ(settings.jpg_quality, 90);
    EXPECT_FLOAT_EQ(settings.image_gamma, 0.5f);
    EXPECT_EQ(settings.image_rotation, 12);
}

TEST_F(SettingsTest, NamesAreTrimmedAndMatchedWithoutCase) {
    EXPECT_EQ(Parse({"--resize-algorithm= Lanczos ", "--tiff-compression=lzw", "--wm-text-position=topLeft",
                     "--file-timestamp=custom", "--wm-text-size=anything", "--raw-load-as=48HS"})
                  .error,
              "");
    EXPECT_EQ(settings.image_resize_algorithm, 5);
    EXPECT_EQ(settings.tiff_compression, 6);
    EXPECT_EQ(settings.text_position, 0);
    EXPECT_EQ(settings.file_timestamp, 2);
    EXPECT_EQ(settings.text_size, 0);
    EXPECT_EQ(settings.raw_load_as, 4);
}

TEST_F(SettingsTest, SwitchesIgnoreTheirValue) {
    EXPECT_EQ(Parse({"--png-interlaced=no", "--no-subfolders=1", "--flip-vertical=0"}).error, "");
    EXPECT_EQ(settings.png_interlaced, 1);
    EXPECT_EQ(settings.keep_subfolders, 0);
    EXPECT_EQ(settings.do_image_flip_vertical, 1);
}

TEST_F(SettingsTest, ShortSwitchesAreWholeParameters) {
    ParseResult r = Parse({"-q=1", "-p=1", "-d=1"});
    EXPECT_EQ(r.error, "");
    EXPECT_FALSE(r.quiet);
    EXPECT_FALSE(r.pause);
    EXPECT_EQ(run_request.mode, "");

    r = Parse({"-Q", "--pause", "-d"});
    EXPECT_TRUE(r.quiet);
    EXPECT_TRUE(r.pause);
    EXPECT_EQ(run_request.mode, "DEBUG");
}

TEST_F(SettingsTest, UnknownOptionsAndStrayWordsAreSkipped) {
    const ParseResult r = Parse({"stray", "--foo=1", "-x", "-i", "a.gif", "-v", "--help", "--jpg-quality=7"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(run_request.input_path, "a.gif");
    EXPECT_EQ(settings.jpg_quality, 7);
    EXPECT_EQ(ChangedKeys(), (std::set<std::string>{"Output/JPG Quality"}));
}

TEST_F(SettingsTest, LastValueWinsAndTextsAreReplacedWhole) {
    EXPECT_EQ(Parse({"--jpg-quality=10", "--jpg-quality=20", "--wm-text=Hi"}).error, "");
    EXPECT_EQ(settings.jpg_quality, 20);
    EXPECT_EQ(settings.text, "Hi");
}

TEST_F(SettingsTest, QuotedValuesJoinFollowingParameters) {
    EXPECT_EQ(Parse({"--wm-text=\"Hello", "big", "world\"", "--jpg-quality=5"}).error, "");
    EXPECT_EQ(settings.text, "Hello big world");
    EXPECT_EQ(settings.jpg_quality, 5);

    SetUp();
    EXPECT_EQ(Parse({"-i", "\"my", "file.gif\"", "-o", "\"out", "dir\""}).error, "");
    EXPECT_EQ(run_request.input_path, "my file.gif");
    EXPECT_EQ(run_request.output_folder, "out dir");

    SetUp();
    EXPECT_EQ(Parse({"--wm-text=\"\"\"quoted\"\"\""}).error, "");
    EXPECT_EQ(settings.text, "quoted") << "every quote at both ends goes";
}

TEST_F(SettingsTest, UnclosedQuoteRunsToTheLastParameter) {
    EXPECT_EQ(Parse({"--wm-text=\"Hello", "--jpg-quality=5", "-q"}).error, "");
    EXPECT_EQ(settings.text, "Hello --jpg-quality=5 -q");
    EXPECT_EQ(settings.jpg_quality, 95) << "joined parameters are not options any more";
}

TEST_F(SettingsTest, ValueOfOnlyQuotesIsAnEmptyText) {
    EXPECT_EQ(Parse({"--wm-text=\"\""}).error, "");
    EXPECT_EQ(settings.text, "");
    EXPECT_EQ(settings.do_watermark, kTextWatermark);

    // A lone quote both opens and closes the value: nothing is joined.
    SetUp();
    EXPECT_EQ(Parse({"--filename-mask=\"", "--jpg-quality=5"}).error, "");
    EXPECT_EQ(settings.filename_mask, "");
    EXPECT_EQ(settings.jpg_quality, 5);
}

TEST_F(SettingsTest, ConversionLosesItsQuotesButIsNeverJoined) {
    EXPECT_EQ(Parse({"-c", "\"png", "--jpg-quality=5\""}).error, "");
    EXPECT_EQ(run_request.conversion, "png");
    EXPECT_EQ(settings.jpg_quality, 5);

    SetUp();
    EXPECT_EQ(Parse({"--conversion=\"jpg\""}).error, "");
    EXPECT_EQ(run_request.conversion, "jpg");
}

TEST_F(SettingsTest, SideEffects) {
    struct Case {
        std::vector<std::string> params;
        std::set<std::string> changed;
    };
    const std::vector<Case> cases = {
        {{"--width=800"}, {"Transform/Image Width", "Transform/Do Image Resize"}},
        {{"--height=600"}, {"Transform/Image Height", "Transform/Do Image Resize"}},
        {{"--rotation=90"}, {"Transform/Image Rotation", "Transform/Do Image Rotation"}},
        {{"--invert"}, {"Adjustment/Image Invert", "Adjustment/Do Image Color Correction"}},
        {{"--gamma=2"}, {"Adjustment/Image Gamma", "Adjustment/Do Image Color Correction"}},
        {{"--threshold=128"}, {"Adjustment/Image Threshold", "Adjustment/Do Image Threshold"}},
        {{"--fr-solid-top=4"}, {"Frame/Solid Top", "Frame/Do Frame"}},
        {{"--fr-solid-top-color=FF0000"}, {"Frame/Solid Top Color"}},
        {{"--fr-solid-opacity=9"}, {"Frame/Solid Opacity"}},
        {{"--wm-text=x"}, {"Watermark/Text", "Watermark/Do Watermark"}},
        {{"--wm-image-rotation=30"}, {"Watermark/Image Rotation"}},
        {{"--no-subfolders"}, {"Advanced/Keep Subfolders"}},
        {{"--keep-aspect-ratio"}, {"Transform/Keep Aspect Ratio"}},
        {{"--raw-width=3", "--raw-height=4"}, {"Input/RAW Image Width", "Input/RAW Image Height"}},
        {{"--file-timestamp-custom=5"}, {"Advanced/Custom Timestamp"}},
    };
    for (const Case& c : cases) {
        SetUp();
        EXPECT_EQ(Parse(c.params).error, "");
        EXPECT_EQ(ChangedKeys(), c.changed) << c.params[0];
    }
    SetUp();
    Parse({"--wm-image=logo.png"});
    EXPECT_EQ(settings.watermark_image, "logo.png");
    EXPECT_EQ(settings.do_watermark, kImageWatermark);
    Parse({"--wm-text=x"});
    EXPECT_EQ(settings.do_watermark, kTextWatermark) << "the later watermark option decides";
}

// ---------------------------------------------------------------- the table

TEST_F(SettingsTest, EveryRowWritesItsOwnSettingAndSideEffectOnly) {
    std::set<const void*> seen;
    for (const OptionRow& row : OptionTable()) {
        const SettingKey* key = KeyOfTarget(row.target);
        if (!key) continue;  // run request, parser flags, --profile
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(seen.insert(key).second) << "two options write " << key->key;
        if (row.form == OptionForm::Name) {
            EXPECT_EQ(row.table, key->table);
        }
        SetUp();
        std::string value;
        switch (row.form) {
            case OptionForm::Integer: value = "77"; break;
            case OptionForm::Real: value = "2.5"; break;
            case OptionForm::QuotedText: value = "abc"; break;
            case OptionForm::Name:
                // a name whose code differs from the default, when the table has one
                for (const ValueName& n : ValueNames(row.table))
                    if (std::to_string(n.code) != SettingValueText(settings, *key)) value = n.name;
                if (value.empty()) value = "x";
                break;
            default: break;
        }
        const std::string param = std::string(row.name) + (value.empty() ? "" : "=" + value);
        ASSERT_EQ(Parse({param}).error, "");

        std::set<std::string> expected;
        const bool value_changes = row.form != OptionForm::Name || value != "x";
        if (value_changes) expected.insert(std::string(key->group) + "/" + key->key);
        if (auto* also = std::get_if<int8_t Settings::*>(&row.also)) {
            const SettingKey* also_key = KeyOfTarget(OptionTarget(*also));
            ASSERT_NE(also_key, nullptr);
            if (before_.**also != row.also_value)
                expected.insert(std::string(also_key->group) + "/" + also_key->key);
        }
        EXPECT_EQ(ChangedKeys(), expected) << param;
    }
}

TEST(OptionTableTest, OptionNamesMatchTheirKeys) {
    // Where the option is not simply the key spelt with hyphens.
    const std::map<std::string, std::string> irregular = {
        {"--RAW-WIDTH", "Input/RAW Image Width"},
        {"--RAW-HEIGHT", "Input/RAW Image Height"},
        {"--ROTATION-TYPE", "Transform/Image Rotation Type"},
        {"--ROTATION", "Transform/Image Rotation"},
        {"--ROTATION-BACK-COLOR", "Transform/Image Rotation Back Color"},
        {"--WIDTH", "Transform/Image Width"},
        {"--WIDTH-UNIT", "Transform/Image Width Unit"},
        {"--HEIGHT", "Transform/Image Height"},
        {"--HEIGHT-UNIT", "Transform/Image Height Unit"},
        {"--RESIZE-TYPE", "Transform/Image Resize Type"},
        {"--RESIZE-ALGORITHM", "Transform/Image Resize Algorithm"},
        {"--FLIP-HORIZONTAL", "Transform/Do Image Flip Horizontal"},
        {"--FLIP-VERTICAL", "Transform/Do Image Flip Vertical"},
        {"--BRIGHTNESS", "Adjustment/Image Brightness"},
        {"--CONTRAST", "Adjustment/Image Contrast"},
        {"--GAMMA", "Adjustment/Image Gamma"},
        {"--INVERT", "Adjustment/Image Invert"},
        {"--GREYSCALE", "Adjustment/Do Image Greyscale"},
        {"--THRESHOLD", "Adjustment/Image Threshold"},
        {"--FR-SOLID-LEFT", "Frame/Solid Left"},
        {"--FR-SOLID-RIGHT", "Frame/Solid Right"},
        {"--FR-SOLID-TOP", "Frame/Solid Top"},
        {"--FR-SOLID-BOTTOM", "Frame/Solid Bottom"},
        {"--FR-SOLID-LEFT-COLOR", "Frame/Solid Left Color"},
        {"--FR-SOLID-RIGHT-COLOR", "Frame/Solid Right Color"},
        {"--FR-SOLID-TOP-COLOR", "Frame/Solid Top Color"},
        {"--FR-SOLID-BOTTOM-COLOR", "Frame/Solid Bottom Color"},
        {"--FR-SOLID-OPACITY", "Frame/Solid Opacity"},
        {"--WM-IMAGE-ROTATION", "Watermark/Image Rotation"},
        {"--FILE-TIMESTAMP-CUSTOM", "Advanced/Custom Timestamp"},
        {"--NO-SUBFOLDERS", "Advanced/Keep Subfolders"},
    };
    int settings_rows = 0;
    for (const OptionRow& row : OptionTable()) {
        const SettingKey* key = KeyOfTarget(row.target);
        if (!key) continue;
        ++settings_rows;
        const std::string actual = std::string(key->group) + "/" + key->key;
        if (auto it = irregular.find(row.name); it != irregular.end()) {
            EXPECT_EQ(actual, it->second) << row.name;
            continue;
        }
        // "--WM-TEXT-X-OFFSET" is "Text X Offset", "--JPG-SAVE-AS" is "JPG Save As"
        std::string spelt = ToUpperAscii(key->key);
        for (char& c : spelt)
            if (c == ' ') c = '-';
        std::string name = row.name + 2;
        if (name.starts_with("WM-")) name = name.substr(3);
        EXPECT_EQ(name, spelt) << row.name << " writes " << actual;
    }
    EXPECT_EQ(settings_rows, 102);
}

TEST(OptionTableTest, ProfileKeys) {
    int count = 0;
    for (const OptionRow& row : OptionTable())
        if (row.profile_key) ++count;
    EXPECT_EQ(count, 102);
    for (const char* not_profile : {"-I", "--INPUT", "-O", "--OUTPUT", "-C", "--CONVERSION", "--PROFILE", "-D",
                                    "--DEBUG", "-Q", "--QUIET", "-P", "--PAUSE", "--FR-SOLID-OPACITY", ""})
        EXPECT_EQ(FindProfileOption(not_profile), nullptr) << not_profile;
    const OptionRow* opacity = FindProfileOption("--WM-SOLID-OPACITY");
    ASSERT_NE(opacity, nullptr);
    EXPECT_STREQ(opacity->name, "--FR-SOLID-OPACITY");
    EXPECT_EQ(FindOption("--WM-SOLID-OPACITY"), nullptr) << "the command line does not know it";
    EXPECT_EQ(FindOption(""), nullptr);
}

// A row whose form cannot store into its target does not compile into the
// table; these are the mismatches that used to store 0.
namespace {
using kestrune::OptionForm;
using kestrune::OptionRow;
using kestrune::Settings;
static_assert(!kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::Integer, &Settings::png_interlaced}));
static_assert(!kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::Name, &Settings::jpg_quality}),
              "a Name row needs its value-name table");
static_assert(!kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::Real, &Settings::jpg_quality}));
static_assert(!kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::Switch, &Settings::png_interlaced}),
              "a switch needs the value it stores");
static_assert(!kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::QuotedText, &Settings::jpg_quality}));
static_assert(kestrune::FormFitsTarget(OptionRow{"--X", nullptr, OptionForm::Integer, &Settings::jpg_quality}));
}  // namespace
