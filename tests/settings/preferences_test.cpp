#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/files.h"
#include "settings/preferences.h"
#include "settings_fixture.h"
#include "support/harness.h"

using namespace kestrune;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

// Keys whose values differ, for readable failures.
std::string Differences(const Settings& a, const Settings& b) {
    std::string out;
    for (const SettingKey& k : SettingKeys()) {
        const std::string va = SettingValueText(a, k), vb = SettingValueText(b, k);
        if (va != vb) out += std::string(k.group) + "/" + k.key + ": '" + va + "' vs '" + vb + "'\n";
    }
    return out;
}

// A record in which every key holds something other than its default.
Settings NonDefaultRecord() {
    Settings s;
    SetDefaultSettings(s, false);
    int index = 0;
    for (const SettingKey& k : SettingKeys()) {
        ++index;
        switch (k.kind) {
            case SettingKind::Integer: SetSettingFromText(s, k, std::to_string(-1000 - index)); break;
            case SettingKind::Byte: SetSettingFromText(s, k, std::to_string(20 + index % 100)); break;
            case SettingKind::Real: SetSettingFromText(s, k, "2.750000"); break;
            // '=', ';' and '[' inside a value are text, not syntax
            case SettingKind::Text:
                SetSettingFromText(s, k, "v" + std::to_string(index) + " caf\xC3\xA9 a=b;[c] ");
                break;
        }
    }
    s.cfg = 17;
    return s;
}

// What reading back should give: the keys that are never written come back
// with their window-mode defaults.
Settings AfterRoundTrip(const Settings& written) {
    Settings defaults;
    SetDefaultSettings(defaults, false);
    Settings expected = written;
    for (const SettingKey& k : SettingKeys()) {
        if (!k.saved) SetSettingFromText(expected, k, SettingValueText(defaults, k));
    }
    return expected;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

}  // namespace

class PreferencesTest : public SettingsTest {
  protected:
    TempDir dir_;
    std::string path_ = dir_ / "config.ini";
};

// ---------------------------------------------------------------- defaults

TEST(DefaultSettingsTest, TheTwoSetsDifferOnlyInKeepAspectRatio) {
    Settings command_line, window;
    SetDefaultSettings(command_line, true);
    SetDefaultSettings(window, false);
    window.update_date = command_line.update_date;  // both read the clock
    window.custom_timestamp = command_line.custom_timestamp;
    EXPECT_EQ(command_line.keep_aspect_ratio, 0);
    EXPECT_EQ(window.keep_aspect_ratio, 1);
    window.keep_aspect_ratio = 0;
    EXPECT_TRUE(command_line == window) << Differences(command_line, window);
}

TEST(DefaultSettingsTest, NotableDefaults) {
    Settings s;
    SetDefaultSettings(s, true, 1920, 1080);
    EXPECT_EQ(s.back_opacity, 1);
    EXPECT_EQ(s.text_opacity, 255);
    EXPECT_EQ(s.image_opacity, 255);
    EXPECT_EQ(s.solid_opacity, 255);
    EXPECT_EQ(s.image_resize_algorithm, 3);
    EXPECT_EQ(s.text_position, 8);
    EXPECT_EQ(s.image_position, 8);
    EXPECT_EQ(s.raw_tone_mapping, 2);
    EXPECT_EQ(s.window_x, (1920 - 510) / 2);
    EXPECT_EQ(s.window_y, (1080 - 330) / 2);
    EXPECT_EQ(s.filename_mask, "%filename%.%ext%");
    EXPECT_FLOAT_EQ(s.image_gamma, 1.0f);

    SetDefaultSettings(s, true, 400, 330);  // no room to centre
    EXPECT_EQ(s.window_x, 100);
    EXPECT_EQ(s.window_y, 100);
}

TEST(ValueNameTest, LookupIgnoresCaseAndUnknownNamesGiveZero) {
    EXPECT_EQ(LookupValueName("lzw", kTableCompression), 6);
    EXPECT_EQ(LookupValueName("ZIP", kTableCompression), 1);
    EXPECT_EQ(LookupValueName("rle", kTableCompression), 1);
    EXPECT_EQ(LookupValueName("nope", kTableCompression), 0);
    EXPECT_EQ(LookupValueName(" LZW", kTableCompression), 0) << "callers trim";
    EXPECT_EQ(LookupValueName("bottomright", kTablePosition), 8);
    EXPECT_EQ(LookupValueName("48hs", kTableRawLoadAs), 4);
    EXPECT_EQ(LookupValueName("ALL", kNoTable), 0);
    EXPECT_EQ(NameOfCode(kTableCompression, 1), "RLE");
    EXPECT_EQ(NameOfCode(kTableResizeAlgorithm, 9), "");
}

// ---------------------------------------------------------------- the reader

TEST(PreferenceTextTest, LineRules) {
    const auto entries = ParsePreferenceText(
        "top = 1\r\n; comment = x\r\n  [G1]\r\n\tKey One \t=  \tvalue with blanks  \r"
        "NoEquals\n[G2\nk=\r\n=orphan\r\n[G3]extra]\r\nk2 = a = b");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].group, "");
    EXPECT_EQ(entries[0].key, "top");
    EXPECT_EQ(entries[1].group, "G1");
    EXPECT_EQ(entries[1].key, "Key One");
    EXPECT_EQ(entries[1].value, "value with blanks  ");
    EXPECT_EQ(entries[2].key, "NoEquals");
    EXPECT_EQ(entries[2].value, "");
    EXPECT_EQ(entries[3].group, "G2");  // an unclosed group runs to the line end
    EXPECT_EQ(entries[3].key, "k");
    EXPECT_EQ(entries[4].group, "G3");
    EXPECT_EQ(entries[4].value, "a = b");
}

TEST_F(PreferencesTest, MissingFileGivesWindowDefaultsCentred) {
    settings.jpg_quality = 1;
    LoadPreferences(dir_ / "missing.ini", 1920, 1080);
    Settings expected;
    SetDefaultSettings(expected, false, 1920, 1080);
    expected.update_date = settings.update_date;
    expected.custom_timestamp = settings.custom_timestamp;
    EXPECT_TRUE(settings == expected) << Differences(settings, expected);
    EXPECT_EQ(settings.window_x, 705);

    LoadPreferences(dir_.path());  // a folder cannot be opened either
    EXPECT_EQ(settings.keep_aspect_ratio, 1);
    EXPECT_EQ(settings.window_x, 100);
}

TEST_F(PreferencesTest, AbsentKeysReadTheirDefaults) {
    WriteFileBytes(path_, "[Output]\r\nJPG Quality = 50\r\n");
    LoadPreferences(path_, 1920, 1080);
    EXPECT_EQ(settings.jpg_quality, 50);
    EXPECT_EQ(settings.cfg, 0) << "an absent CFG reads as 0";
    EXPECT_EQ(settings.window_x, 100) << "X and Y read 100, not the centred position";
    EXPECT_EQ(settings.window_y, 100);
    EXPECT_EQ(settings.keep_aspect_ratio, 1);
    EXPECT_EQ(settings.back_opacity, 1);
    EXPECT_EQ(settings.filename_mask, "%filename%.%ext%");
}

TEST_F(PreferencesTest, KeysAreReadOnlyFromTheirOwnGroup) {
    WriteFileBytes(path_, "[General]\r\nCFG = 17\r\nJPG Quality = 50\r\n[Watermark]\r\nImage Rotation = 30\r\n"
                          "[Transform]\r\nImage Rotation = 45\r\n[Output]\r\nFormat = png\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.jpg_quality, 95);
    EXPECT_EQ(settings.wm_image_rotation, 30);
    EXPECT_EQ(settings.image_rotation, 45);
    EXPECT_EQ(settings.output_format, "png");
    EXPECT_EQ(settings.input_format, "gif");
}

TEST_F(PreferencesTest, OldMaskWithoutExtensionIsMigrated) {
    WriteFileBytes(path_, "[Advanced]\r\nFilename Mask = %filename%\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.filename_mask, "%filename%.%ext%");

    WriteFileBytes(path_, "[General]\r\nCFG = 10\r\n[Advanced]\r\nFilename Mask = %EXT%_%filename%\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.filename_mask, "%EXT%_%filename%") << "names are built lower-cased";

    WriteFileBytes(path_, "[General]\r\nCFG = 11\r\n[Advanced]\r\nFilename Mask = %filename%\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.filename_mask, "%filename%");
}

TEST_F(PreferencesTest, OldRawCodesAreShifted) {
    WriteFileBytes(path_, "[General]\r\nCFG = 13\r\n[Input]\r\nRAW Load As = 1\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.raw_load_as, 3);

    WriteFileBytes(path_, "[General]\r\nCFG = 13\r\n[Input]\r\nRAW Load As = 0\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.raw_load_as, 0);

    WriteFileBytes(path_, "[General]\r\nCFG = 14\r\n[Input]\r\nRAW Load As = 1\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.raw_load_as, 1);
}

TEST_F(PreferencesTest, CsvDelimiterWords) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tab", "\t"}, {"TAB", "\t"}, {"Space", " "}, {"crlf", "\r\n"}, {";", ";"}, {"tabs", "tabs"}};
    for (const auto& [word, delimiter] : cases) {
        WriteFileBytes(path_, "[File]\r\nCsvDelimiter = " + word + "\r\n");
        LoadPreferences(path_);
        EXPECT_EQ(settings.csv_delimiter, delimiter) << word;
    }
}

TEST_F(PreferencesTest, Latin1FileIsReadAsLatin1) {
    WriteFileBytes(path_, "[Watermark]\r\nText = \xA9 caf\xE9\r\n");
    LoadPreferences(path_);
    EXPECT_EQ(settings.text, "\xC2\xA9 caf\xC3\xA9");
}

TEST_F(PreferencesTest, BrokenFilesDoNotCrash) {
    std::string binary;
    for (int i = 0; i < 8192; ++i) binary.push_back(static_cast<char>((i * 31 + i / 7) & 0xFF));
    for (const std::string& bytes : {binary, std::string(), std::string("\xEF\xBB"), std::string("[[[===\r\r\n\n")}) {
        WriteFileBytes(path_, bytes);
        LoadPreferences(path_);
        EXPECT_EQ(settings.keep_aspect_ratio, 1);
    }
}

// ---------------------------------------------------------------- the writer

TEST_F(PreferencesTest, RoundTripKeepsEveryWrittenKey) {
    const Settings written = NonDefaultRecord();
    settings = written;
    ASSERT_TRUE(SavePreferences(path_));
    SetDefaultSettings(settings, true);
    LoadPreferences(path_);
    const Settings expected = AfterRoundTrip(written);
    EXPECT_TRUE(settings == expected) << Differences(settings, expected);
}

TEST_F(PreferencesTest, RoundTripOfSpecialReals) {
    for (float gamma : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 0.015625f}) {
        settings.image_gamma = gamma;
        ASSERT_TRUE(SavePreferences(path_));
        LoadPreferences(path_);
        EXPECT_EQ(settings.image_gamma, gamma);
    }
    settings.image_gamma = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(SavePreferences(path_));
    EXPECT_NE(ReadFileBytes(path_).find("\r\nImage Gamma = NaN\r\n"), std::string::npos);
    LoadPreferences(path_);
    EXPECT_TRUE(std::isnan(settings.image_gamma));
}

TEST_F(PreferencesTest, StartOfTheWrittenFile) {
    SetDefaultSettings(settings, false, 1920, 1080);
    settings.update_date = 1234567890;
    ASSERT_TRUE(SavePreferences(path_));
    const std::string bytes = ReadFileBytes(path_);
    const std::string start =
        "\xEF\xBB\xBF\r\n"
        "[General]\r\n"
        "CFG = 17\r\n"
        "Language = en\r\n"
        "Update Range = 2\r\n"
        "Update Date = 1234567890\r\n"
        "Save Window Position = 1\r\n"
        "; \r\n"
        "\r\n"
        "[Window]\r\n"
        "IsMaximized = 0\r\n"
        "Width = 510\r\n"
        "Height = 330\r\n"
        "X = 705\r\n"
        "Y = 375\r\n"
        "Show Toolbar = 1\r\n"
        "; \r\n"
        "\r\n"
        "[Interface]\r\n"
        "UI Theme = handdrawn\r\n"
        "UI Size = 2\r\n"
        "; \r\n"
        "\r\n"
        "[Input]\r\n"
        "Format = gif\r\n"
        "GIF Frame Loading = 0\r\n"
        "; \r\n"
        "\r\n"
        "[Output]\r\n"
        "Format = bmp\r\n"
        "BMP BPP = 0\r\n";
    EXPECT_EQ(bytes.substr(0, start.size()), start);
    const std::string end = "[File]\r\nRecent Out Folders = \r\nRecent Files = \r\n; \r\n\r\n"
                            "[Privacy]\r\nClean Recent Files = 0\r\n; \r\n";
    ASSERT_GE(bytes.size(), end.size());
    EXPECT_EQ(bytes.substr(bytes.size() - end.size()), end);
    EXPECT_NE(bytes.find("\r\nImage Gamma = 1.000000\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nText = Copyright \xC2\xA9 2026 Tarvel Software\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("\n\n"), std::string::npos) << "every line ends in CR LF";
}

TEST_F(PreferencesTest, GroupsAndOutputKeysInOrder) {
    SetDefaultSettings(settings, false);
    ASSERT_TRUE(SavePreferences(path_));
    std::vector<std::string> groups, output_keys;
    std::string group;
    for (const std::string& line : SplitLines(ReadFileBytes(path_).substr(3))) {
        if (line.starts_with("[")) {
            group = line;
            groups.push_back(line);
        } else if (group == "[Output]" && line.find(" = ") != std::string::npos) {
            output_keys.push_back(line.substr(0, line.find(" = ")));
        }
    }
    EXPECT_EQ(groups, (std::vector<std::string>{"[General]", "[Window]", "[Interface]", "[Input]", "[Output]",
                                                "[Transform]", "[Adjustment]", "[Frame]", "[Watermark]",
                                                "[Advanced]", "[File]", "[Privacy]"}));
    EXPECT_EQ(output_keys,
              (std::vector<std::string>{
                  "Format",           "BMP BPP",         "BMP Compression", "BMP Color Table", "DDS BPP",
                  "EXR BPP",          "EXR Compression", "GIF BPP",         "HDR BPP",         "ICO BPP",
                  "J2K BPP",          "JNG BPP",         "JP2 BPP",         "JPG BPP",         "JPG Quality",
                  "JPG Chroma",       "JPG Save As",     "JXR BPP",         "PBM BPP",         "PCX BPP",
                  "PFM BPP",          "PGM BPP",         "PNG BPP",         "PNG Compression", "PNG Interlaced",
                  "PPM BPP",          "PSD BPP",         "TGA BPP",         "TGA Compression", "TIFF BPP",
                  "TIFF Compression", "TIFF Color Model", "WBMP BPP",       "WEBP BPP",        "XPM BPP"}));
}

TEST_F(PreferencesTest, WindowKeysOnlyWhenThePositionIsSaved) {
    SetDefaultSettings(settings, false);
    settings.save_window_position = 0;
    settings.window_width = 999;
    ASSERT_TRUE(SavePreferences(path_));
    EXPECT_NE(ReadFileBytes(path_).find("\r\n[Window]\r\n; \r\n\r\n[Interface]\r\n"), std::string::npos);
    LoadPreferences(path_);
    EXPECT_EQ(settings.window_width, 510);
    EXPECT_EQ(settings.window_x, 100);
}

TEST_F(PreferencesTest, CfgIsAlwaysWrittenAsTheCurrentLayout) {
    SetDefaultSettings(settings, false);
    settings.cfg = 3;
    settings.filename_mask = "%filename%";
    ASSERT_TRUE(SavePreferences(path_));
    LoadPreferences(path_);
    EXPECT_EQ(settings.cfg, 17);
    EXPECT_EQ(settings.filename_mask, "%filename%") << "a current file is not migrated";
}

TEST_F(PreferencesTest, LineBreaksInsideTextsCannotBreakTheFile) {
    SetDefaultSettings(settings, false);
    settings.text = "first\r\nJPG Quality = 1\nthird\rfourth";
    ASSERT_TRUE(SavePreferences(path_));
    LoadPreferences(path_);
    EXPECT_EQ(settings.text, "first%eol%JPG Quality = 1%eol%third%eol%fourth");
    EXPECT_EQ(settings.jpg_quality, 95);
}

TEST_F(PreferencesTest, UnwritableFileWritesNothing) {
    const std::string in_missing_folder = dir_ / "no/such/config.ini";
    EXPECT_FALSE(SavePreferences(in_missing_folder));
    EXPECT_EQ(FileSize(in_missing_folder), -1);

    // A file that exists keeps its content when the new one cannot be written.
    WriteFileBytes(path_, "[Output]\r\nJPG Quality = 50\r\n");
    chmod(dir_.path().c_str(), 0500);
    const bool saved = SavePreferences(path_);
    chmod(dir_.path().c_str(), 0700);
    if (geteuid() != 0) {
        EXPECT_FALSE(saved);
        EXPECT_EQ(ReadFileBytes(path_), "[Output]\r\nJPG Quality = 50\r\n");
    }
}

TEST_F(PreferencesTest, PathUnderTheApplicationDataFolder) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    const std::string base = dir_ / "fresh-config";  // not there yet
    setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    const std::string path = PreferencesPath();
    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");

    EXPECT_EQ(path, base + "/Tarvel/kestrune/config.ini");
    EXPECT_EQ(FileSize(base + "/Tarvel"), -2);
    EXPECT_EQ(FileSize(base + "/Tarvel/kestrune"), -2);
    EXPECT_EQ(FileSize(path), -1) << "only the folders are created";
    SetDefaultSettings(settings, false);
    EXPECT_TRUE(SavePreferences(path));
}
