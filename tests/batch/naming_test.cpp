// Output names: the mask and its tokens, frame numbers, subfolders and
// timestamps, through the real program where the result is a file on disk,
// and in-process where only the text matters.
#include <regex>

#include "batch/input_list.h"
#include "batch/naming.h"
#include "batch/run_checks.h"
#include "batch_support.h"
#include "platform/clock.h"

namespace batch_tests {
namespace {

class NamingTest : public InOutFolders {
  protected:
    std::vector<std::string> ConvertWithMask(const std::string& input, const std::string& mask,
                                             const std::string& conversion = "png") {
        Kestrune({"-q", "-i", input, "-o", out, "-c", conversion, "--filename-mask=" + mask});
        return FilesBelow(out);
    }
};

TEST_F(NamingTest, CaseTokensShapeTheBaseNameAndExtension) {
    WriteStill(in + "/photo.gif");
    EXPECT_EQ(ConvertWithMask(in + "/photo.gif", "%filename[t]%.%ext%"), std::vector<std::string>{"Photo.png"});
    fs::remove_all(out);
    MakeFolder(out);
    WriteStill(in + "/PHOTO.GIF");
    EXPECT_EQ(ConvertWithMask(in + "/PHOTO.GIF", "%filename[u]%_%filename[l]%.%ext[u]%"),
              std::vector<std::string>{"PHOTO_photo.PNG"});
    fs::remove_all(out);
    MakeFolder(out);
    EXPECT_EQ(ConvertWithMask(in + "/PHOTO.GIF", "%FILENAME[T]%.%Ext[T]%", "tga"),
              std::vector<std::string>{"Photo.Tga"});
}

TEST_F(NamingTest, LiteralTextOfTheMaskIsLowerCased) {
    WriteStill(in + "/a.gif");
    EXPECT_EQ(ConvertWithMask(in + "/a.gif", "Photo_%n%.%ext%", "jpg"), std::vector<std::string>{"photo_00001.jpg"});
}

TEST_F(NamingTest, ATokenInsideTheBaseNameIsExpandedOnlyInLowerCase) {
    WriteStill(in + "/x%n%.gif");
    WriteStill(in + "/y%N%.gif");
    EXPECT_EQ(ConvertWithMask(in + "/x%n%.gif", "%filename%.%ext%"), std::vector<std::string>{"x00001.png"});
    EXPECT_EQ(ConvertWithMask(in + "/y%N%.gif", "%filename%.%ext%"),
              (std::vector<std::string>{"x00001.png", "y%N%.png"}));
}

TEST_F(NamingTest, SizeDepthAndDateTokens) {
    WriteStill(in + "/a.gif", 30, 20);
    const auto names = ConvertWithMask(in + "/a.gif", "%width%x%height%_%bpp%_%yyyy%-%mm%-%dd%_%rnd%.%ext%");
    ASSERT_EQ(names.size(), 1u);
    // Automatic depth for png from a 32-bit frame.
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(30x20_32_20\d\d-\d\d-\d\d_\d{5}\.png)"))) << names[0];
    const int rnd = std::stoi(names[0].substr(names[0].size() - 9, 5));
    EXPECT_GE(rnd, 1);
    EXPECT_LE(rnd, 99999);

    fs::remove_all(out);
    MakeFolder(out);
    Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--png-bpp=24", "--width=15", "--height=10",
              "--filename-mask=%width%x%height%_%bpp%.%ext%"});
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"15x10_24.png"});
    EXPECT_EQ(SizeOf(out + "/15x10_24.png"), (ImageSize{15, 10}));
}

// The counter numbers successful files only: a failure between two files
// does not use up a number.
TEST_F(NamingTest, SequenceNumberSkipsFailedFiles) {
    for (const char* name : {"a", "b", "c"}) WriteStill(in + "/" + name + ".gif");
    WriteFileBytes(in + "/broken.gif", TruncatedGif());
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png", "--filename-mask=%n%_%filename%.%ext%"});
    const auto reports = WorkerReports(run.lines);
    ASSERT_EQ(reports.size(), 4u) << Joined(run.lines);
    std::vector<std::string> expected;
    int next = 1;
    for (const auto& [path, report] : reports) {
        if (report.verdict != "OK") continue;
        char number[8];
        std::snprintf(number, sizeof number, "%05d", next++);
        expected.push_back(std::string(number) + "_" + fs::path(path).stem().string() + ".png");
        EXPECT_EQ(report.saving_as, out + "/" + expected.back());
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(out), expected);
    EXPECT_EQ(next, 4);
}

TEST_F(NamingTest, AMaskWithoutTokensMakesEveryFileOverwriteTheLast) {
    WriteStill(in + "/a.gif");
    WriteStill(in + "/b.gif");
    const Outcome run = Kestrune({"-i", in, "-o", out, "-c", "png", "--filename-mask=Same.PNG"});
    EXPECT_TRUE(Contains(run.lines, "Files converted: 2 of 2"));
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"same.png"});
}

TEST_F(NamingTest, SubfoldersOfTheInputFolderAreRecreated) {
    MakeFolder(in + "/a/b");
    WriteStill(in + "/a/b/c.gif");
    WriteStill(in + "/d.gif");
    Kestrune({"-q", "-i", in, "-o", out, "-c", "png"});
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a/b/c.png", "d.png"}));

    fs::remove_all(out);
    MakeFolder(out);
    Kestrune({"-q", "-i", in, "-o", out, "-c", "png", "--no-subfolders"});
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"c.png", "d.png"}));
    EXPECT_FALSE(fs::exists(out + "/a"));
}

// A subfolder whose path repeats the input folder's own text keeps its
// structure: only the leading input folder is taken off.
TEST_F(NamingTest, ASubfolderRepeatingTheInputFoldersNameKeepsItsShape) {
    const std::string nested = in + "/x" + in;
    MakeFolder(nested);
    WriteStill(nested + "/c.gif");
    Kestrune({"-q", "-i", in, "-o", out, "-c", "png"});
    const std::string relative = "x" + in + "/c.png";
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{relative});
}

TEST_F(NamingTest, OriginalTimestampIsCopiedToEveryFrameFile) {
    WriteStill(in + "/still.gif");
    WriteGif(in + "/anim.gif", SimpleAnimation(4, 4, 2));
    const time_t then = 1300000000;  // 2011, well away from "now"
    SetModificationTime(in + "/still.gif", then);
    SetModificationTime(in + "/anim.gif", then + 3600);
    Kestrune({"-q", "-i", in, "-o", out, "-c", "png", "--file-timestamp=ORIGINAL"});
    EXPECT_EQ(ModificationTime(out + "/still.png"), then);
    EXPECT_EQ(ModificationTime(out + "/anim[1].png"), then + 3600);
    EXPECT_EQ(ModificationTime(out + "/anim[2].png"), then + 3600);
    EXPECT_FALSE(fs::exists(out + "/anim.png"));
}

// The instant is copied, whatever the zone: 00:30 and 01:30 UTC on
// 2020-10-25 both read 02:30 in Berlin, one in summer and one in winter time.
TEST_F(NamingTest, OriginalTimestampIsTheSameInstantInEveryZone) {
    const time_t instants[] = {1603585800, 1603589400, 1585443600, 1604212200};
    for (size_t i = 0; i < std::size(instants); ++i) {
        WriteStill(in + "/" + std::to_string(i) + ".gif");
        SetModificationTime(in + "/" + std::to_string(i) + ".gif", instants[i]);
    }
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "UTC"}) {
        RunOptions options;
        options.env["TZ"] = zone;
        Kestrune({"-q", "-i", in, "-o", out, "-c", "tga", "--file-timestamp=ORIGINAL"}, options);
        for (size_t i = 0; i < std::size(instants); ++i)
            EXPECT_EQ(ModificationTime(out + "/" + std::to_string(i) + ".tga"), instants[i]) << zone << " " << i;
    }
}

TEST_F(NamingTest, CustomAndCurrentTimestamps) {
    WriteStill(in + "/a.gif");
    SetModificationTime(in + "/a.gif", 1300000000);
    // The custom date is a local-time count of seconds.
    const int64_t custom = 1200000000;
    Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--file-timestamp=CUSTOM",
              "--file-timestamp-custom=" + std::to_string(custom)});
    EXPECT_EQ(ModificationTime(out + "/a.png"), kestrune::FromLocalCount(custom));

    const time_t before = time(nullptr);
    Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "tga"});
    EXPECT_GE(ModificationTime(out + "/a.tga"), before - 1);
}

// In-process: names that need no image.
class NameTextTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrune::SetDefaultSettings(s, true);
        state.output_folder = "/out/";
        state.conversion = "png";
        state.current_input = "/in/Photo.Big.gif";
    }
    kestrune::Settings s;
    kestrune::BatchState state;
};

TEST_F(NameTextTest, EmptyMaskMeansFilenameDotExtension) {
    s.filename_mask = "";
    EXPECT_EQ(kestrune::BuildOutputName(state, s), "Photo.Big.png");
    state.current_input = "/in/noextension";
    EXPECT_EQ(kestrune::BuildOutputName(state, s), ".png");
}

TEST_F(NameTextTest, CounterAndRandomNumberAreFiveCharacters) {
    s.filename_mask = "%n%-%rnd%";
    state.sequence_number = 123456;
    state.random_number = 7;
    EXPECT_EQ(kestrune::BuildOutputName(state, s), "12345-00007");
}

TEST(FramePathTest, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(kestrune::FramePath("/out/a.png", 0, "png"), "/out/a[1].png");
    EXPECT_EQ(kestrune::FramePath("/out/a.png", 11, "png"), "/out/a[12].png");
    EXPECT_EQ(kestrune::FramePath("/out/a.tiff", 1, "tiff"), "/out/a[2].tiff");
    // Position counted from the end, whatever the name ends with.
    EXPECT_EQ(kestrune::FramePath("/out/abcdef", 0, "png"), "/out/ab[1]cdef");
    // Counted in characters: a UTF-8 sequence is never split.
    EXPECT_EQ(kestrune::FramePath("/out/\xc3\xbc" "ber", 0, "png"), "/out/[1]\xc3\xbc" "ber");
    EXPECT_EQ(kestrune::FramePath("/out/png-caf\xc3\xa9", 0, "png"), "/out/png-[1]caf\xc3\xa9");
    EXPECT_EQ(kestrune::FramePath("/out/x\xe2\x82\xac\xf0\x9f\x98\x80" "ab", 1, "gif"),
              "/out/x[2]\xe2\x82\xac\xf0\x9f\x98\x80" "ab");
    EXPECT_EQ(kestrune::FramePath("/out/x\xf0\x9f\x98\x80y\xc3\xa9", 2, "ab"), "/out/x[3]\xf0\x9f\x98\x80y\xc3\xa9");
    // Never inside the folder part.
    EXPECT_EQ(kestrune::FramePath("/out/a", 0, "png"), "/out/a[1]");
}

TEST(PathPartsTest, ExtensionAndFolderParts) {
    using kestrune::ExtensionPart;
    using kestrune::FolderPart;
    EXPECT_EQ(ExtensionPart("/in/a.gif"), "gif");
    EXPECT_EQ(ExtensionPart("a.tar.GIF"), "GIF");
    EXPECT_EQ(ExtensionPart("C:\\in\\a.gif"), "gif");
    EXPECT_EQ(ExtensionPart("/in/my.pics/"), "");
    EXPECT_EQ(ExtensionPart("/in/.hidden"), "");
    EXPECT_EQ(ExtensionPart(".gif"), "");
    EXPECT_EQ(ExtensionPart("/my pics/a"), "");
    EXPECT_EQ(ExtensionPart("/in/a.gi f"), "");
    EXPECT_EQ(ExtensionPart("/in/a.gif\"x"), "gif");
    EXPECT_EQ(FolderPart("/in/a.gif"), "/in/");
    EXPECT_EQ(FolderPart("in\\a.gif"), "in\\");
    EXPECT_EQ(FolderPart("a.gif"), "");
}

// A typed folder means the same on the command line and in the window,
// which both resolve it here.
TEST(PathPartsTest, TypedFolders) {
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    setenv("HOME", "/home/anna/", 1);
    const std::pair<const char*, const char*> cases[] = {
        {"/out", "/out/"},          {"/out/", "/out/"},          {"out", "/prog/out/"},
        {"./out", "/prog/out/"},    {"", "/prog/"},              {"~", "/home/anna/"},
        {"~/out", "/home/anna/out/"}, {"~anna/out", "/prog/~anna/out/"},
    };
    for (const auto& [typed, expected] : cases)
        EXPECT_EQ(kestrune::ResolveFolder(typed, "/prog/"), expected) << typed;
    if (home) setenv("HOME", saved.c_str(), 1); else unsetenv("HOME");
}

TEST(PathPartsTest, RelativeSubfolder) {
    using kestrune::RelativeSubfolder;
    EXPECT_EQ(RelativeSubfolder("/in/a/b/c.gif", "/in/"), "a/b/");
    EXPECT_EQ(RelativeSubfolder("/in/d.gif", "/in/"), "");
    EXPECT_EQ(RelativeSubfolder("/in/a/in/c.gif", "/in/"), "a/in/");
    EXPECT_EQ(RelativeSubfolder("/in/d.gif", ""), "");
    EXPECT_EQ(RelativeSubfolder("", "/in/"), "");
}

}  // namespace
}  // namespace batch_tests
