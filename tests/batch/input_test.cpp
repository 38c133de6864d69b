// Input collection through the real program: folder scans at every depth,
// list files in their encodings and with their odd lines, duplicates.
#include "batch_support.h"
#include "platform/text.h"

namespace batch_tests {
namespace {

class InputTest : public InOutFolders {
  protected:
    // The count of the import line of a run that is not quiet.
    static int ImportCount(const Outcome& run) {
        for (const auto& l : run.lines)
            if (l.rfind("Import complete, new files added: ", 0) == 0) return std::stoi(l.substr(34));
        return -1;
    }
    std::vector<std::string> Processed(const Outcome& run) const {
        std::vector<std::string> paths;
        for (const auto& [path, report] : WorkerReports(run.lines)) paths.push_back(path);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(InputTest, FolderScanFindsGifsAtAnyDepthHiddenOnesIncluded) {
    MakeFolder(in + "/a/b");
    MakeFolder(in + "/.secret");
    WriteStill(in + "/a/b/c.gif");
    WriteStill(in + "/d.gif");
    WriteStill(in + "/.hidden.gif");
    WriteStill(in + "/.secret/e.gif");
    WriteStill(in + "/UPPER.GIF");
    WriteFileBytes(in + "/empty.gif", "");
    WriteFileBytes(in + "/notes.txt", "x");
    WriteStill(in + "/a/picture.png.not");
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    EXPECT_EQ(ImportCount(run), 5);
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{".hidden.png", ".secret/e.png", "UPPER.png",
                                                         "a/b/c.png", "d.png"}));
    EXPECT_TRUE(Contains(run.lines, "Files converted: 5 of 5"));
}

TEST_F(InputTest, FolderLinksBackUpTheTreeAreNotFollowed) {
    MakeFolder(in + "/a");
    WriteStill(in + "/a/c.gif");
    ASSERT_EQ(symlink(in.c_str(), (in + "/a/loop").c_str()), 0);
    ASSERT_EQ(symlink((in + "/a").c_str(), (in + "/self").c_str()), 0);
    // A link to a folder outside the tree is an ordinary folder.
    MakeFolder(dir / "elsewhere");
    WriteStill(dir / "elsewhere/x.gif");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (in + "/linked").c_str()), 0);
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    // in/a/c.gif is reached once directly and once through "self" (a link to
    // a sibling, not to a parent); "a/loop" leads back to the root and stops.
    EXPECT_EQ(ImportCount(run), 3) << Joined(run.lines);
    EXPECT_EQ(Processed(run), (std::vector<std::string>{in + "/a/c.gif", in + "/linked/x.gif", in + "/self/c.gif"}));
}

TEST_F(InputTest, ListFileWithOddLines) {
    WriteStill(in + "/a.gif");
    WriteStill(in + "/b.gif");
    WriteStill(in + "/c.gif");
    WriteFileBytes(in + "/zero.gif", "");
    MakeFolder(in + "/sub/deeper");
    WriteStill(in + "/sub/deeper/s.gif");
    const std::string list = in + "/list.txt";
    WriteFileBytes(list, "\xEF\xBB\xBF" + in + "/a.gif\n"  // UTF-8 mark before the first path
                         "\n"                               // blank line
                         "   " + in + "/b.gif   \n"         // blanks around the path
                         "\t" + in + "/c.gif\n"             // a tab is part of the path
                         + in + "/missing.gif\n"            // names nothing
                         + in + "/a.gif\n"                  // duplicate: taken, not added
                         + list + "\n"                      // the list itself: not a GIF
                         + in + "/zero.gif\n"               // 0 bytes
                         + in + "/sub\r\n"                  // folder without "/", CR LF
                         "   \n");
    const Outcome run = Kestrune({"-d", "-i", list, "-o", out, "-c", "png"});
    EXPECT_EQ(ImportCount(run), 3) << Joined(run.lines);
    EXPECT_EQ(Processed(run), (std::vector<std::string>{in + "/a.gif", in + "/b.gif", in + "/sub/deeper/s.gif"}));
    // A list run keeps no subfolders: everything lands in the output folder.
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a.png", "b.png", "s.png"}));
}

TEST_F(InputTest, ListFileMarksOfUtf16AreHonoured) {
    const std::string name = in + "/\xC3\xA9t\xC3\xA9.gif";  // "été.gif"
    WriteStill(name);
    WriteStill(in + "/b.gif");
    const std::u16string text = kestrune::Utf8ToUtf16(name + "\r\n" + in + "/b.gif\r\n");
    std::string le = "\xFF\xFE", be = "\xFE\xFF";
    for (char16_t u : text) {
        le.push_back(static_cast<char>(u & 0xFF));
        le.push_back(static_cast<char>(u >> 8));
        be.push_back(static_cast<char>(u >> 8));
        be.push_back(static_cast<char>(u & 0xFF));
    }
    for (const auto& [kind, bytes] : {std::pair{"le", le}, std::pair{"be", be}}) {
        fs::remove_all(out);
        MakeFolder(out);
        WriteFileBytes(in + "/list.lst", bytes);
        const Outcome run = Kestrune({"-i", in + "/list.lst", "-o", out, "-c", "png"});
        EXPECT_EQ(ImportCount(run), 2) << kind;
        EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"b.png", "\xC3\xA9t\xC3\xA9.png"})) << kind;
    }
}

TEST_F(InputTest, RelativeListLinesAreTakenFromTheCurrentDirectory) {
    MakeFolder(in + "/pics");
    WriteStill(in + "/pics/a.gif");
    WriteFileBytes(in + "/list.txt", "pics/a.gif\n./pics/a.gif\n");
    RunOptions options;
    options.working_dir = in;
    const Outcome run = Kestrune({"-d", "-i", in + "/list.txt", "-o", out, "-c", "png"}, options);
    // Written differently, the same file counts twice: keys are paths as given.
    EXPECT_EQ(ImportCount(run), 2);
    EXPECT_EQ(Processed(run), (std::vector<std::string>{"./pics/a.gif", "pics/a.gif"}));
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"a.png"});
}

TEST_F(InputTest, EmptyOrUnreadableListFileFindsNothing) {
    WriteFileBytes(in + "/empty.txt", "\xEF\xBB\xBF");
    Outcome run = Kestrune({"-q", "-i", in + "/empty.txt", "-o", out});
    EXPECT_TRANSCRIPT(run.lines, (std::vector<std::string>{
                                     "Conversion stopped",
                                     "No input file(s) found. Please, add valid file(s) and try again!"}));
    // A single input file that is not a GIF is not added either.
    WriteFileBytes(in + "/a.png", "x");
    run = Kestrune({"-i", in + "/a.png", "-o", out});
    EXPECT_EQ(ImportCount(run), 0);
}

}  // namespace
}  // namespace batch_tests
