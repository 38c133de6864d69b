#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/text_table.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

constexpr const char* kNoString = "%NO_STRING_ERROR%";

class TextTableTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { BuildTextTable(); }
};

TEST_F(TextTableTest, FindsEveryKeyOfASortedGroup) {
    // Neighbours in sorted order with shared prefixes, and keys with blanks.
    const std::vector<std::pair<const char*, const char*>> msg = {
        {"Error", "Error"},
        {"Empty input files", "No input file(s) found. Please, add valid file(s) and try again!"},
        {"Empty extensions", "Please, fill all required fields and try again!"},
        {"Export complete", "Export complete, entries saved: %s1%"},
        {"Export is not complete", "Export stopped"},
        {"Ask break import", "Do you want to break the import?"},
        {"Ask break export", "Do you want to break the export?"},
        {"Ask break conversion", "Do you want to break the conversion?"},
        {"Ask check for updates", "Do you want to check for updates?"},
        {"Check for Updates", "Check for Updates"},
        {"Clean recent files", "Clean Recent Files"},
        {"Conversion complete", "Conversion complete"},
        {"Conversion is not complete", "Conversion stopped"},
        {"New Update", "New Update"},
        {"New Update Text",
         "A new version of Tarvel GIF to IMAGE is available! Are you ready to download it right now?"},
        {"No Update", "No Update"},
        {"Progress", "(%s1%/%s2%)"},
        {"Files converted", "Files converted: %s1% of %s2%"},
        {"Warning", "Warning"},
    };
    for (const auto& [key, text] : msg) EXPECT_EQ(GetText("Msg", key), text) << key;
    EXPECT_EQ(GetText("Menu", "Open"), "&Open...");
    EXPECT_EQ(GetText("Menu", "Visit Homepage"), "Visit the Program's &Homepage");
    EXPECT_EQ(GetText("General", "Preparing"), "Preparing...");
    EXPECT_EQ(GetText("Dialog", "Import Input Files"), "Import Input Files From A List");
    EXPECT_EQ(GetText("About", "Email"), "E-mail:");
    EXPECT_EQ(GetText("Custom-Converter", "Title"), "Find a File Converter");
    EXPECT_EQ(GetText("Uninstall", "Uninstall Text"), "Full Uninstall - Visit Uninstall Center");
}

TEST_F(TextTableTest, SameKeyInDifferentGroupsKeepsItsOwnText) {
    EXPECT_EQ(GetText("Menu", "Select Input Files"), "&Add Input Files...");
    EXPECT_EQ(GetText("Dialog", "Select Input Files"), "Select Input Files");
    EXPECT_EQ(GetText("Menu", "Convert"), "&Convert");
    EXPECT_EQ(GetText("About", "Title"), "About...");
    EXPECT_EQ(GetText("Uninstall", "Title"), "Uninstall");
    EXPECT_EQ(GetText("Preferences", "Title"), "Preferences");
}

TEST_F(TextTableTest, CrLfInTextsIsCarriageReturnAndLineFeed) {
    EXPECT_EQ(FormatText(GetText("Msg", "Invalid output folder"), "/out/"),
              "The following output folder is invalid or doesn't exist:\r\n/out/\r\n\r\n"
              "Please, correct the output path and try again!");
}

TEST_F(TextTableTest, GroupsAndKeysIgnoreCase) {
    EXPECT_EQ(GetText("msg", "files converted"), "Files converted: %s1% of %s2%");
    EXPECT_EQ(GetText("MSG", "FILES CONVERTED"), "Files converted: %s1% of %s2%");
    EXPECT_EQ(GetText("custom-converter", "sEARCH"), "Search");
}

TEST_F(TextTableTest, GroupsAreNumberedInListOrder) {
    const char* order[] = {"Menu", "General", "Msg", "Dialog", "Preferences", "About", "Custom-Converter",
                           "Uninstall"};
    for (int i = 0; i < 8; ++i) {
        GetText(order[i], "Title");
        EXPECT_EQ(CurrentTextGroup(), i + 1) << order[i];
    }
}

TEST_F(TextTableTest, MissingGroupResetsTheCurrentGroup) {
    EXPECT_EQ(GetText("Msg", "Error"), "Error");
    EXPECT_EQ(CurrentTextGroup(), 3);
    EXPECT_EQ(GetText("NoSuchGroup", "Error"), kNoString);
    EXPECT_EQ(CurrentTextGroup(), 0);
    EXPECT_EQ(GetText("msg", "Warning"), "Warning");
    EXPECT_EQ(CurrentTextGroup(), 3);
    // A missing key keeps the group found.
    EXPECT_EQ(GetText("General", "No such key"), kNoString);
    EXPECT_EQ(CurrentTextGroup(), 2);
}

TEST_F(TextTableTest, MissingKeysGiveTheErrorText) {
    EXPECT_EQ(GetText("Msg", "Zebra"), kNoString);     // no key of "Msg" starts with Z
    EXPECT_EQ(GetText("Msg", "Errors"), kNoString);    // after the last E-key
    EXPECT_EQ(GetText("Msg", "Ask"), kNoString);       // before the first A-key
    EXPECT_EQ(GetText("Msg", "Ask break"), kNoString); // between two keys
    EXPECT_EQ(GetText("Msg", ""), kNoString);
    EXPECT_EQ(GetText("Msg", "Error "), kNoString);
    EXPECT_EQ(GetText("", "Error"), kNoString);
    // The search stops at the group's last entry: "Reset to Defaults" sorts
    // after "Ready", the last key of "General", and is a key of "Msg", the
    // group whose entries follow.
    EXPECT_EQ(GetText("General", "Reset to Defaults"), kNoString);
    EXPECT_EQ(GetText("Msg", "Reset to Defaults"), "Reset to Defaults");
}

TEST_F(TextTableTest, PreferencesLabelEverySettingAndEveryValueName) {
    for (const SettingKey& key : SettingKeys()) {
        const std::string group = key.group;
        if (group == "Window" || group == "Interface" || group == "File") continue;
        if (group == "General" && std::string(key.key) != "Language" && std::string(key.key) != "Update Range" &&
            std::string(key.key) != "Save Window Position")
            continue;
        EXPECT_NE(GetText("Preferences", group + "." + key.key), kNoString) << group << "." << key.key;
        for (const ValueName& name : ValueNames(key.table))
            EXPECT_NE(GetText("Preferences", std::string("Choice.") + name.name), kNoString) << name.name;
    }
    for (const char* page : {"Output", "Transform", "Adjustment", "Frame", "Watermark", "Advanced"})
        EXPECT_EQ(GetText("Preferences", page), page);
    EXPECT_EQ(FormatText(GetText("Preferences", "Bits"), "24"), "24 bits");
}

TEST(FormatTextTest, FillsPlaceholdersWithoutRegardToCase) {
    EXPECT_EQ(FormatText("Files converted: %s1% of %s2%", "3", "5"), "Files converted: 3 of 5");
    EXPECT_EQ(FormatText("Files converted: %s1% of %s2%", "3", ""), "Files converted: 3 of %s2%");
    EXPECT_EQ(FormatText("%S1%-%s1%-%s4%-%s3%", "a", "b", "c", "d"), "a-a-d-c");
    EXPECT_EQ(FormatText("", "a"), "");
    EXPECT_EQ(FormatText("no placeholders", "a", "b"), "no placeholders");
    EXPECT_EQ(FormatText("%s2%", "", "x"), "x");
}

}  // namespace
}  // namespace kestrune
