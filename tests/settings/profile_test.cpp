#include "settings/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include "settings_fixture.h"
#include "support/harness.h"

using namespace kestrune;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

std::string Profile(const std::string& cli_lines) { return "[CLI]\r\n" + cli_lines; }

}  // namespace

class ProfileTest : public SettingsTest {
  protected:
    // Writes the bytes as a profile and loads it.
    bool Load(const std::string& bytes) {
        WriteFileBytes(path_, bytes);
        return LoadProfile(path_);
    }
    TempDir dir_;
    std::string path_ = dir_ / "profile.ini";
};

TEST_F(ProfileTest, KeysSetTheirOptionsSettings) {
    ASSERT_TRUE(Load(Profile("--jpg-quality = 80\r\n--WIDTH=640\r\n--Resize-Algorithm =  lanczos  \r\n")));
    EXPECT_EQ(settings.jpg_quality, 80);
    EXPECT_EQ(settings.image_width, 640);
    EXPECT_EQ(settings.do_image_resize, 1) << "side effects come with profile keys too";
    EXPECT_EQ(settings.image_resize_algorithm, 5);
}

TEST_F(ProfileTest, FrameOpacityGoesByItsProfileName) {
    ASSERT_TRUE(Load(Profile("--fr-solid-opacity = 7\r\n")));
    EXPECT_EQ(settings.solid_opacity, 255);
    ASSERT_TRUE(Load(Profile("--wm-solid-opacity = 128\r\n")));
    EXPECT_EQ(settings.solid_opacity, 128);
}

TEST_F(ProfileTest, SwitchesActWhateverTheValue) {
    ASSERT_TRUE(Load(Profile("--png-interlaced = 0\r\n--no-subfolders = 1\r\n--invert\r\n")));
    EXPECT_EQ(settings.png_interlaced, 1);
    EXPECT_EQ(settings.keep_subfolders, 0);
    EXPECT_EQ(settings.image_invert, 1);
    EXPECT_EQ(settings.do_image_color_correction, 1);
}

TEST_F(ProfileTest, IgnoredKeysAndGroups) {
    ASSERT_TRUE(Load("--jpg-quality = 11\r\n"  // before any group
                     "[Other]\r\n--jpg-quality = 12\r\n"
                     "[CLI]\r\njpg-quality = 13\r\n--foo = 1\r\n"
                     "-i = x.gif\r\n--input = x.gif\r\n-o = out\r\n-c = png\r\n--debug\r\n-q\r\n-p\r\n"
                     "--profile = other.ini\r\n"
                     "[General]\r\n--jpg-quality = 14\r\n"));
    EXPECT_EQ(ChangedKeys(), std::set<std::string>{});
    EXPECT_EQ(run_request.input_path, "");
    EXPECT_FALSE(run_request.input_given);
    EXPECT_EQ(run_request.mode, "");
}

TEST_F(ProfileTest, TextsAreTrimmedWithQuotesKeptButTheMaskLosesItsQuotes) {
    ASSERT_TRUE(Load(Profile("--wm-text =   \"Hello world\"   \r\n"
                             "--wm-font = Liberation Sans \r\n"
                             "--rotation-back-color = \tFF0000\t\r\n"
                             "--filename-mask = \"%n% copy.%ext%\"\r\n")));
    EXPECT_EQ(settings.text, "\"Hello world\"");
    EXPECT_EQ(settings.do_watermark, kTextWatermark);
    EXPECT_EQ(settings.font, "Liberation Sans");
    EXPECT_EQ(settings.image_rotation_back_color, "FF0000\t") << "only blanks are trimmed";
    EXPECT_EQ(settings.filename_mask, "%n% copy.%ext%");

    ASSERT_TRUE(Load(Profile("--filename-mask = %n%.%ext%  \r\n")));
    EXPECT_EQ(settings.filename_mask, "%n%.%ext%  ") << "blanks of the mask are kept";
}

TEST_F(ProfileTest, EmptyValuesAreConvertedNotMissing) {
    ASSERT_TRUE(Load(Profile("--jpg-quality =\r\n--wm-font =\r\n--resize-algorithm=\r\n--gamma=\r\n")));
    EXPECT_EQ(settings.jpg_quality, 0);
    EXPECT_EQ(settings.font, "");
    EXPECT_EQ(settings.image_resize_algorithm, 0);
    EXPECT_EQ(settings.image_gamma, 0.0f);
}

TEST_F(ProfileTest, KeysApplyInFileOrderLaterWinning) {
    ASSERT_TRUE(Load(Profile("--jpg-quality = 10\r\n--wm-image = a.png\r\n--jpg-quality = 20\r\n--wm-text = t\r\n")));
    EXPECT_EQ(settings.jpg_quality, 20);
    EXPECT_EQ(settings.do_watermark, kTextWatermark);
}

TEST_F(ProfileTest, LineFormat) {
    // CR, LF and CR LF line ends; indentation; comments; key and value trimmed
    // on their inner side only.
    ASSERT_TRUE(Load("; a comment\r  \t[CLI]\n\t--jpg-quality\t = \t33\r\n  ;--width = 5\r\n"
                     "--WM-FONT-COLOR =FF00FF\n--wm-text-padding=4"));
    EXPECT_EQ(settings.jpg_quality, 33);
    EXPECT_EQ(settings.do_image_resize, 0);
    EXPECT_EQ(settings.font_color, "FF00FF");
    EXPECT_EQ(settings.text_padding, 4) << "the last line needs no line end";
}

TEST_F(ProfileTest, Latin1AndUtf8WithMarkGiveTheSameText) {
    ASSERT_TRUE(Load(Profile("--wm-text = caf\xE9\r\n")));
    const std::string from_latin1 = settings.text;
    SetUp();
    ASSERT_TRUE(Load("\xEF\xBB\xBF" + Profile("--wm-text = caf\xC3\xA9\r\n")));
    EXPECT_EQ(settings.text, from_latin1);
    EXPECT_EQ(settings.text, "caf\xC3\xA9");

    // Without the mark, UTF-8 bytes are two Latin-1 characters each.
    ASSERT_TRUE(Load(Profile("--wm-text = caf\xC3\xA9\r\n")));
    EXPECT_EQ(settings.text, "caf\xC3\x83\xC2\xA9");
}

TEST_F(ProfileTest, FilesThatCannotBeOpened) {
    EXPECT_FALSE(LoadProfile(""));
    EXPECT_FALSE(LoadProfile(dir_ / "missing.ini"));
    EXPECT_FALSE(LoadProfile(dir_.path())) << "a folder";
    EXPECT_EQ(ChangedKeys(), std::set<std::string>{});
}

TEST_F(ProfileTest, OddFilesLoadWithoutEffect) {
    EXPECT_TRUE(Load(""));
    EXPECT_TRUE(Load("\xEF\xBB\xBF"));
    EXPECT_TRUE(Load("[CLI"));
    EXPECT_TRUE(Load("[General]\r\nCFG = 17\r\n"));
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919 + i / 13) & 0xFF));
    EXPECT_TRUE(Load(binary));
    EXPECT_TRUE(Load(std::string("[CLI]\0\r\n--jpg-quality\0 = 5\r\n=\r\n[]\r\n[", 36)));
    EXPECT_EQ(settings.jpg_quality, 0) << "a NUL ends the line: the key stands without its value";
}

// A NUL in a value would cut every path or name made from it short (all
// frames of an animation into one file "x"); it ends the line instead, for
// every kind of value.
TEST_F(ProfileTest, ANulEndsTheLine) {
    ASSERT_TRUE(Load(Profile(std::string("--filename-mask = x\0%n%.png\r\n"
                                         "--wm-text = a\0b\r\n"
                                         "--width = 64\0 0\r\n"
                                         "--rotation-back-color = FF\0FF00\r\n"
                                         "--brightness = 7\r\n",
                                         114))));
    EXPECT_EQ(settings.filename_mask, "x");
    EXPECT_EQ(settings.text, "a");
    EXPECT_EQ(settings.image_width, 64);
    EXPECT_EQ(settings.image_rotation_back_color, "FF");
    EXPECT_EQ(settings.image_brightness, 7) << "the next line is read as usual";
    for (const std::string* text : {&settings.filename_mask, &settings.text, &settings.image_rotation_back_color})
        EXPECT_EQ(text->find('\0'), std::string::npos);
}

// Only regular files of a sane size are profiles: /dev/zero would be read
// until memory runs out, a FIFO would block the run for ever.
TEST_F(ProfileTest, SpecialAndHugeFilesAreInvalid) {
    const std::string fifo = dir_ / "fifo.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir_ / "huge.ini";
    WriteFileBytes(huge, Profile("--jpg-quality = 80\r\n") + std::string(2 << 20, ';'));
    for (const std::string& path : {std::string("/dev/zero"), std::string("/dev/null"), fifo, huge}) {
        auto loaded = std::async(std::launch::async, [&] { return LoadProfile(path); });
        if (loaded.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Let the blocked reader go before failing.
            const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) close(writer);
            loaded.wait();
            ADD_FAILURE() << path << " blocked the reader";
            continue;
        }
        EXPECT_FALSE(loaded.get()) << path;
    }
    EXPECT_EQ(ChangedKeys(), std::set<std::string>{});
}

// The profile reader goes through the option table: every profile key gives
// the record the command-line option of the same row gives.
TEST_F(ProfileTest, EveryKeyActsLikeItsOption) {
    for (const OptionRow& row : OptionTable()) {
        if (!row.profile_key) continue;
        SCOPED_TRACE(row.profile_key);
        SetUp();
        std::string value;
        switch (row.form) {
            case OptionForm::Integer: value = "-$1F"; break;
            case OptionForm::Real: value = "1.5"; break;
            case OptionForm::QuotedText: value = "text"; break;
            case OptionForm::Name:
                // a name whose code differs from the default; the size-mode table has none
                value = "x";
                for (const ValueName& n : ValueNames(row.table))
                    if (std::to_string(n.code) != SettingValueText(settings, *KeyOfTarget(row.target)))
                        value = n.name;
                break;
            default: value = "0"; break;
        }
        SetUp();
        ASSERT_EQ(Parse({std::string(row.name) + "=" + value}).error, "");
        const Settings from_command_line = settings;

        SetUp();
        ASSERT_TRUE(Load(Profile(std::string(row.profile_key) + " = " + value + "\r\n")));
        EXPECT_TRUE(settings == from_command_line);
        if (value != "x") {
            EXPECT_FALSE(ChangedKeys().empty());
        }
    }
}

// ---------------------------------------------------------------- --profile

TEST_F(ProfileTest, ProfileStandsWhereItIsGiven) {
    WriteFileBytes(path_, Profile("--jpg-quality = 50\r\n--wm-font = Courier\r\n"));
    ASSERT_EQ(Parse({"--profile=" + path_, "--jpg-quality=80"}).error, "");
    EXPECT_EQ(settings.jpg_quality, 80);
    EXPECT_EQ(settings.font, "Courier");

    SetUp();
    ASSERT_EQ(Parse({"--jpg-quality=80", "--profile=" + path_}).error, "");
    EXPECT_EQ(settings.jpg_quality, 50);
}

TEST_F(ProfileTest, SeveralProfilesApplyInTurn) {
    const std::string second = dir_ / "second.ini";
    WriteFileBytes(path_, Profile("--jpg-quality = 50\r\n--width = 10\r\n"));
    WriteFileBytes(second, Profile("--jpg-quality = 60\r\n"));
    ASSERT_EQ(Parse({"--PROFILE=" + path_, "--profile=" + second}).error, "");
    EXPECT_EQ(settings.jpg_quality, 60);
    EXPECT_EQ(settings.image_width, 10);
}

TEST_F(ProfileTest, ProfileNameMayBeQuotedAcrossParameters) {
    const std::string spaced = dir_ / "my profile.ini";
    WriteFileBytes(spaced, Profile("--jpg-quality = 42\r\n"));
    ASSERT_EQ(Parse({"--profile=\"" + dir_.path() + "/my", "profile.ini\"", "--width=3"}).error, "");
    EXPECT_EQ(settings.jpg_quality, 42);
    EXPECT_EQ(settings.image_width, 3);
}

TEST_F(ProfileTest, InvalidProfileStopsTheWalk) {
    WriteFileBytes(path_, Profile("--jpg-quality = 50\r\n"));
    const ParseResult r =
        Parse({"--width=5", "--profile=" + path_, "--profile=" + (dir_ / "missing.ini"), "--height=7"});
    EXPECT_EQ(r.error, "Invalid profile file");
    EXPECT_EQ(settings.image_width, 5);
    EXPECT_EQ(settings.jpg_quality, 50) << "an earlier profile stays applied";
    EXPECT_EQ(settings.image_height, 0);

    for (const std::string& bad : {std::string("--profile=\"\""), "--profile=" + dir_.path()}) {
        SetUp();
        EXPECT_EQ(Parse({bad}).error, "Invalid profile file") << bad;
    }
}
