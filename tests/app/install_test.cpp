// What an installation puts on a machine: the manual page and the bash
// completion written from the option table, and the installed tree with its
// desktop entry and icons.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/options.h"
#include "settings/settings.h"
#include "support/harness.h"

namespace {

using kestrune::OptionForm;
using kestrune::OptionRow;
using kestrune::OptionTable;

const std::string kGenerated = std::string(KESTRUNE_BUILD_DIR) + "/generated";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Standard output of a shell command, and its exit status.
std::pair<std::string, int> Shell(const std::string& command) {
    std::string out;
    int status = -1;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        status = pclose(p);
    }
    return {out, status};
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// How troff source writes an option name: every "-" as "\-".
std::string Roff(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// `word` stands alone in the completion's word list: a blank before it, a
// blank or the list's closing quote after it.
bool HasWord(const std::string& text, const std::string& word) {
    for (const char before : {' ', '"'}) {
        const std::string spelt = before + word;
        for (size_t at = text.find(spelt); at != std::string::npos; at = text.find(spelt, at + 1)) {
            const size_t end = at + 1 + word.size();
            if (end < text.size() && (text[end] == ' ' || text[end] == '"')) return true;
        }
    }
    return false;
}

TEST(GeneratedDocs, ManPageAndCompletionListEveryOptionAndValueName) {
    const std::string man = ReadAll(kGenerated + "/kestrunecmd.1");
    const std::string completion = ReadAll(kGenerated + "/kestrunecmd.bash");
    ASSERT_FALSE(man.empty()) << "missing " << kGenerated << "/kestrunecmd.1";
    ASSERT_FALSE(completion.empty());
    for (const char* section : {".SH OPTIONS", ".SH EXAMPLES", ".SH EXIT STATUS", ".SH FILES", ".SH ENVIRONMENT"})
        EXPECT_NE(man.find(section), std::string::npos) << section;
    EXPECT_NE(man.find("KESTRUNE_CONSOLE_UTF8"), std::string::npos);
    EXPECT_NE(man.find("iconv \\-f UTF\\-16LE \\-t UTF\\-8"), std::string::npos);
    for (const OptionRow& row : OptionTable()) {
        const std::string name = Lower(row.name);
        EXPECT_NE(man.find("\\fB" + Roff(name) + "\\fR"), std::string::npos) << name;
        const bool takes_value =
            row.form != OptionForm::Switch && row.form != OptionForm::Help && row.form != OptionForm::Version;
        EXPECT_TRUE(HasWord(completion, name + (takes_value ? "=" : ""))) << name;
        if (row.short_name) {
            EXPECT_NE(man.find("\\fB" + Roff(Lower(row.short_name)) + "\\fR"), std::string::npos) << row.short_name;
            EXPECT_TRUE(HasWord(completion, Lower(row.short_name))) << row.short_name;
        }
        for (const kestrune::ValueName& v : kestrune::ValueNames(row.table)) {
            if (row.form != OptionForm::Name) break;
            EXPECT_NE(man.find(std::string("\\fB") + v.name + "\\fR"), std::string::npos) << name << " " << v.name;
            EXPECT_NE(completion.find(name + ") values=\""), std::string::npos) << name;
        }
    }
    // groff reads it without a warning.
    const auto [warnings, status] = Shell("groff -man -Tutf8 -ww -z '" + kGenerated + "/kestrunecmd.1' 2>&1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings, "");
}

struct TabCase {
    std::vector<std::string> words;  // as bash split the line, the last is completed
    std::string expected;            // the replies, one per line
};

void PrintTo(const TabCase& c, std::ostream* out) {
    for (const std::string& w : c.words) *out << w << ' ';
}

class CompletionTab : public testing::TestWithParam<TabCase> {};

// The completion function run as bash runs it on Tab, with "=" among the word
// breaks as in a default bash.
TEST_P(CompletionTab, CompletesTheWordUnderTheCursor) {
    const TabCase& c = GetParam();
    std::string line, words;
    for (const std::string& w : c.words) {
        words += " '" + w + "'";
        line += (line.empty() || w == "=" || line.back() == '=' ? "" : " ") + w;
    }
    const std::string script = "source '" + kGenerated + "/kestrunecmd.bash'; COMP_WORDBREAKS=$' \\t\\n\"\\'><=;|&(:'; " +
                               "COMP_LINE='" + line + "'; COMP_POINT=${#COMP_LINE}; COMP_WORDS=(" + words +
                               "); COMP_CWORD=" + std::to_string(c.words.size() - 1) +
                               "; _kestrunecmd 2>/dev/null; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const auto [out, status] = Shell("bash -c \"$(cat <<'EOS'\n" + script + "\nEOS\n)\"");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, c.expected) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CompletionTab,
    testing::Values(TabCase{{"kestrunecmd", "--jpg-ch"}, "--jpg-chroma=\n"},
                    TabCase{{"kestrunecmd", "--jpg-chroma", "=", "hi"}, "HIGH\n"},
                    TabCase{{"kestrunecmd", "--resize-algorithm", "=", "b"}, "BOX\nBILINEAR\nBSPLINE\nBICUBIC\n"},
                    TabCase{{"kestrunecmd", "-c", "jp"}, "jp2\njpg\n"},
                    // Values are completed whatever the case typed.
                    TabCase{{"kestrunecmd", "--conversion", "=", "w"}, "wbmp\nwebp\n"},
                    TabCase{{"kestrunecmd", "-c", "W"}, "wbmp\nwebp\n"},
                    TabCase{{"kestrunecmd", "--Resize-Algorithm", "=", "Bi"}, "BILINEAR\nBICUBIC\n"},
                    TabCase{{"kestrunecmd", "--flip-h"}, "--flip-horizontal\n"}),
    [](const auto& info) { return testing_support::ParamName({info.param.words.begin() + 1, info.param.words.end()}); });

TEST(InstalledTree, HoldsTheProgramItsManualAndTheDesktopFiles) {
    testing_support::TempDir root;
    const auto [log, status] = Shell("DESTDIR='" + root.path() + "' cmake --install '" + KESTRUNE_BUILD_DIR +
                                     "' --prefix /usr 2>&1");
    ASSERT_EQ(status, 0) << log;
    const std::string usr = root / "usr";
    std::vector<std::string> expected = {
        "/bin/kestrunecmd",
        "/share/doc/kestrune/manual.html",
        "/share/doc/kestrune/copyright",
        "/share/man/man1/kestrunecmd.1.gz",
        "/share/bash-completion/completions/kestrunecmd",
        "/share/applications/kestrune.desktop",
        "/share/icons/hicolor/scalable/apps/kestrune.svg",
    };
    for (const char* size : {"16", "22", "24", "32", "48", "64", "128", "256"})
        expected.push_back(std::string("/share/icons/hicolor/") + size + "x" + size + "/apps/kestrune.png");
    for (const std::string& file : expected) {
        struct stat info {};
        EXPECT_EQ(stat((usr + file).c_str(), &info), 0) << file;
        EXPECT_GT(info.st_size, 0) << file;
    }
    // The installed program finds the installed manual: ../share/doc/kestrune.
    const auto [desktop_check, desktop_status] =
        Shell("desktop-file-validate '" + usr + "/share/applications/kestrune.desktop' 2>&1");
    EXPECT_EQ(desktop_status, 0) << "desktop-file-validate (package desktop-file-utils): " << desktop_check;
    EXPECT_EQ(desktop_check, "");
    const std::string desktop = ReadAll(usr + "/share/applications/kestrune.desktop");
    EXPECT_NE(desktop.find("\nExec=kestrunecmd %F\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nMimeType=image/gif;\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nIcon=kestrune\n"), std::string::npos);

    // The icons are the size their folder says, read by ImageMagick.
    for (const char* size : {"16", "48", "256"}) {
        const auto [dims, id_status] = Shell(std::string("identify -format '%w %h' '") + usr +
                                             "/share/icons/hicolor/" + size + "x" + size + "/apps/kestrune.png'");
        EXPECT_EQ(dims, std::string(size) + " " + size);
    }
    const auto [man, man_status] = Shell("gzip -dc '" + usr + "/share/man/man1/kestrunecmd.1.gz' | head -c 200");
    EXPECT_NE(man.find(".TH KESTRUNECMD 1"), std::string::npos) << man;
}

}  // namespace
