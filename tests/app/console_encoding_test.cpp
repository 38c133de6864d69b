// Redirected console output for scripts: UTF-16LE with CR LF by default, UTF-8
// with LF when KESTRUNE_CONSOLE_UTF8 asks for it.
#include <algorithm>
#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using testing_support::ConsoleLines;
using testing_support::ProcessResult;
using testing_support::RunKestrune;
using testing_support::RunOptions;
using testing_support::TempDir;

struct EncodingCase {
    const char* value;  // nullptr: the variable is not set
    bool utf8;
};

class ConsoleEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ConsoleEncoding, DebugRunWithANameOutsideAscii) {
    TempDir dir;
    // A name with "ä" and "€": UTF-16 and UTF-8 differ in length and bytes.
    const std::string input = dir / "b\xC3\xA4ll \xE2\x82\xAC.gif";
    testing_support::WriteGif(input, testing_support::SimpleAnimation(8, 8, 2));
    RunOptions options;
    if (GetParam().value) options.env["KESTRUNE_CONSOLE_UTF8"] = GetParam().value;
    const ProcessResult r = RunKestrune({"-i", input, "-o", dir.path(), "-c", "png", "-d"}, options);
    ASSERT_EQ(r.exit_code, 0);

    const std::string processing = "Processing: " + input;
    if (GetParam().utf8) {
        EXPECT_EQ(r.out.find('\r'), std::string::npos);
        EXPECT_EQ(r.out.find('\0'), std::string::npos);
        EXPECT_NE(r.out.find("\n" + processing + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\nFiles converted: 1 of 1\n"), std::string::npos) << r.out;
        EXPECT_TRUE(r.out.starts_with("Tarvel GIF to IMAGE 2.5\n")) << r.out;
    } else {
        const std::vector<std::string> lines = ConsoleLines(r.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Tarvel GIF to IMAGE 2.5");
        EXPECT_NE(std::find(lines.begin(), lines.end(), processing), lines.end());
        EXPECT_EQ(lines.back(), "Files converted: 1 of 1");
    }
}

INSTANTIATE_TEST_SUITE_P(Variable, ConsoleEncoding,
                         testing::Values(EncodingCase{nullptr, false}, EncodingCase{"", false},
                                         EncodingCase{"0", false}, EncodingCase{"1", true},
                                         EncodingCase{"yes", true}),
                         [](const auto& info) {
                             const char* v = info.param.value;
                             return v ? std::string(*v ? "Value_" : "Empty") + v : std::string("Unset");
                         });

}  // namespace
