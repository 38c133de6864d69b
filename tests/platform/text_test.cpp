#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/text.h"

namespace kestrune {
namespace {

TEST(TextCase, MapsAsciiAndNonAsciiCodePoints) {
    EXPECT_EQ(ToUpper("abc xyz 123"), "ABC XYZ 123");
    EXPECT_EQ(ToUpper("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");              // été -> ÉTÉ
    EXPECT_EQ(ToUpper("\xCE\xB1\xCE\xB2\xCE\xB3"), "\xCE\x91\xCE\x92\xCE\x93");  // αβγ -> ΑΒΓ
    EXPECT_EQ(ToLower("\xD0\x9F\xD0\xA0\xD0\x98"), "\xD0\xBF\xD1\x80\xD0\xB8");  // ПРИ -> при
    EXPECT_EQ(ToLower("MIXED \xC3\x84pfel"), "mixed \xC3\xA4pfel");
}

TEST(TextCase, FirstUpperLowersTheRest) {
    EXPECT_EQ(ToFirstUpper("hELLO"), "Hello");
    EXPECT_EQ(ToFirstUpper("\xC3\xA9T\xC3\x89"), "\xC3\x89t\xC3\xA9");  // éTÉ -> Été
    EXPECT_EQ(ToFirstUpper(""), "");
}

TEST(TextCase, AsciiUpperLeavesOtherBytesAlone) {
    EXPECT_EQ(ToUpperAscii("--jpg-quality=\xC3\xA9"), "--JPG-QUALITY=\xC3\xA9");
}

TEST(TextCase, InvalidUtf8SurvivesCaseMapping) {
    const std::string broken = std::string("ab\xFF") + "c\xC3";
    EXPECT_EQ(ToUpper(broken), std::string("AB\xFF") + "C\xC3");
}

TEST(TextReplace, IgnoresCaseAndReplacesEveryOccurrence) {
    EXPECT_EQ(ReplaceAllIgnoreCase("%S1% and %s1%", "%s1%", "x"), "x and x");
    EXPECT_EQ(ReplaceAllIgnoreCase("aaa", "a", "aa"), "aaaaaa");  // no re-scan of the inserted text
    EXPECT_EQ(ReplaceAllIgnoreCase("\xC3\x89T\xC3\x89-x", "\xC3\xA9t\xC3\xA9", "summer"), "summer-x");
    EXPECT_EQ(ReplaceAllIgnoreCase("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAllIgnoreCase("%FILENAME%.%ext%", "%filename%", "pic"), "pic.%ext%");
}

TEST(TextReplace, ExactReplaceIsCaseSensitive) {
    EXPECT_EQ(ReplaceAll("a\\b\\c", "\\", "/"), "a/b/c");
    EXPECT_EQ(ReplaceAll("ABab", "ab", "x"), "ABx");
}

TEST(TextUtf16, ConvertsBmpAndSupplementaryCharacters) {
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A é € 😀
    const std::u16string units = Utf8ToUtf16(text);
    ASSERT_EQ(units.size(), 5u);
    EXPECT_EQ(units[0], u'A');
    EXPECT_EQ(units[1], 0x00E9);
    EXPECT_EQ(units[2], 0x20AC);
    EXPECT_EQ(units[3], 0xD83D);
    EXPECT_EQ(units[4], 0xDE00);
    EXPECT_EQ(Utf16ToUtf8(units), text);
}

TEST(TextUtf16, LoneSurrogatesAndBadBytesBecomeReplacementCharacters) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf8ToUtf16("\xFFz"), (std::u16string{0xFFFD, u'z'}));
}

TEST(TextLatin1, EachByteBecomesItsCodePoint) {
    EXPECT_EQ(Latin1ToUtf8("caf\xE9 \xFF"), "caf\xC3\xA9 \xC3\xBF");
}

TEST(TextTrim, RemovesOnlyTheGivenCharacters) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(Trim("\"x\"", "\""), "x");
    EXPECT_EQ(TrimLeft("  a "), "a ");
    EXPECT_EQ(TrimRight("  a "), "  a");
    EXPECT_EQ(Trim("    "), "");
}

// Names on the console: every character that could end or rewrite a line is
// shown as an escape, so one name is always one line; the rest is kept.
TEST(VisibleText, EscapesEverythingThatCouldBreakALine) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain/\xC3\xA9t\xC3\xA9 name.gif", "plain/\xC3\xA9t\xC3\xA9 name.gif"},
        {"bad\r\nSaving As: x.png\r\nOK", "bad\\r\\nSaving As: x.png\\r\\nOK"},
        {"tab\there", "tab\\there"},
        {std::string("nul\0bell\a", 9), "nul\\x00bell\\x07"},
        {"esc\x1b[2Kdel\x7f", "esc\\x1b[2Kdel\\x7f"},
        {"next\xC2\x85line\xE2\x80\xA8para\xE2\x80\xA9", "next\\u0085line\\u2028para\\u2029"},
        {"\xE2\x80\xA6 and \xC2\xA0 stay", "\xE2\x80\xA6 and \xC2\xA0 stay"},
        {"back\\slash", "back\\slash"},
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(kestrune::VisibleText(name), shown) << shown;
}

}  // namespace
}  // namespace kestrune
