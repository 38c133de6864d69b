// Input collection through the real program: folder scans at every depth,
// list files in their encodings and with their odd lines, duplicates.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "batch/batch_state.h"
#include "batch/input_list.h"
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
    // Every real folder is visited once: in/a is reached first by its own
    // name, so "self" (a link to it) adds nothing; "a/loop" leads back to the
    // root and stops.
    EXPECT_EQ(ImportCount(run), 2) << Joined(run.lines);
    EXPECT_EQ(Processed(run), (std::vector<std::string>{in + "/a/c.gif", in + "/linked/x.gif"}));
}

// Each folder of a chain holds two links to the next: followed naively, the
// one GIF at the bottom is reached 2^12 times through 8191 folders.
TEST_F(InputTest, FoldersReachedByManyPathsAreVisitedOnceUnderTheFirstPath) {
    const int depth = 12;
    for (int level = 1; level <= depth; ++level) MakeFolder(dir / ("r" + std::to_string(level)));
    WriteStill(dir / ("r" + std::to_string(depth)) + "/g.gif");
    for (int level = 0; level < depth; ++level) {
        const std::string from = level == 0 ? in : dir / ("r" + std::to_string(level));
        const std::string to = dir / ("r" + std::to_string(level + 1));
        for (const char* name : {"x", "y"}) ASSERT_EQ(symlink(to.c_str(), (from + "/" + name).c_str()), 0);
    }
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png"});
    EXPECT_EQ(ImportCount(run), 1) << Joined(run.lines);
    // The first path in scan order ("x" before "y") names the subfolder.
    std::string first;
    for (int level = 0; level < depth; ++level) first += "x/";
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{first + "g.png"});
    EXPECT_EQ(CountOf(run.lines, "OK"), 1);
}

// Files are converted in the order they were added: a list file's order,
// and for folders the names of each folder in byte order, its files before
// its subfolders. "%n%" follows that order.
TEST_F(InputTest, FilesAreConvertedInTheOrderTheyWereAdded) {
    // Created in an order unrelated to their names.
    for (int i : {7, 20, 1, 13, 2, 19, 10, 5, 16, 3, 11, 18, 4, 9, 15, 6, 12, 17, 8, 14}) {
        char name[32];
        std::snprintf(name, sizeof name, "/page-%02d.gif", i);
        WriteStill(in + name);
    }
    MakeFolder(in + "/B");
    MakeFolder(in + "/a");
    WriteStill(in + "/B/b.gif");
    WriteStill(in + "/a/a.gif");
    WriteStill(in + "/Z.gif");
    const Outcome run = Kestrune({"-d", "-i", in, "-o", out, "-c", "png", "--no-subfolders",
                                  "--filename-mask=scan_%n%.%ext%"});
    std::vector<std::string> expected{in + "/Z.gif"};
    for (int i = 1; i <= 20; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/page-%02d.gif", i);
        expected.push_back(in + name);
    }
    expected.push_back(in + "/B/b.gif");
    expected.push_back(in + "/a/a.gif");
    std::vector<std::string> order;
    for (const auto& [path, report] : WorkerReports(run.lines)) order.push_back(path);
    EXPECT_EQ(order, expected);
    // "%n%" numbers in that order: the "Saving As: " lines say which.
    const auto reports = WorkerReports(run.lines);
    ASSERT_EQ(reports.size(), 23u);
    EXPECT_EQ(reports[0].second.saving_as, out + "/scan_00001.png");
    EXPECT_EQ(reports[1].second.saving_as, out + "/scan_00002.png");
    EXPECT_EQ(reports[22].second.saving_as, out + "/scan_00023.png");

    // A list file keeps its own order, folders in it included.
    WriteFileBytes(dir / "list.txt", in + "/page-09.gif\n" + in + "/a\n" + in + "/page-02.gif\n" + in +
                                         "/page-09.gif\n" + in + "/Z.gif\n");
    const Outcome listed = Kestrune({"-d", "-i", dir / "list.txt", "-o", out, "-c", "png"});
    order.clear();
    for (const auto& [path, report] : WorkerReports(listed.lines)) order.push_back(path);
    EXPECT_EQ(order, (std::vector<std::string>{in + "/page-09.gif", in + "/a/a.gif", in + "/page-02.gif",
                                               in + "/Z.gif"}));
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

// The list is read a block at a time: line ends that straddle two blocks,
// and a line far longer than any path (skipped, not kept in memory), leave
// the other lines intact.
TEST_F(InputTest, ListFileLinesAcrossBlocksAndOverlongLines) {
    WriteStill(in + "/a.gif");
    WriteStill(in + "/b.gif");
    WriteStill(in + "/c.gif");
    std::string list(65535 - (in.size() + 6), ' ');  // a.gif's CR LF straddles the first block end
    list += in + "/a.gif\r\n";
    list += std::string(3 << 20, 'x') + "\n";        // 3 MB without a line end
    list += in + "/b.gif\r" + in + "/c.gif";          // lone CR, no final line end
    WriteFileBytes(in + "/list.txt", list);
    const Outcome run = Kestrune({"-d", "-i", in + "/list.txt", "-o", out, "-c", "png"});
    EXPECT_EQ(Processed(run), (std::vector<std::string>{in + "/a.gif", in + "/b.gif", in + "/c.gif"}));
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

// The window's break question holds the pause gate shut and a "yes" clears
// keep running: a scan deep inside one big folder must wait at the gate and
// then end without adding another file, not finish the folder first.
TEST_F(InputTest, ScanWaitsAtThePauseGateAndStopsAtAnyDepth) {
    std::string deep = in;
    for (int level = 0; level < 20; ++level) {
        deep += "/d" + std::to_string(level);
        MakeFolder(deep);
        for (int i = 0; i < 20; ++i) WriteFileBytes(deep + "/f" + std::to_string(i) + ".gif", "x");
    }
    kestrune::TheInputList().clear();
    kestrune::pause_gate.Close();
    std::atomic<bool> done{false};
    int added = -1;
    std::thread scan([&] {
        added = kestrune::ScanFolder(in + "/d0/");
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done) << "the scan went on while the gate was shut";
    kestrune::batch_progress.keep_running = 0;
    kestrune::pause_gate.Open();
    scan.join();
    kestrune::batch_progress.keep_running = 1;
    EXPECT_EQ(added, 0);
    EXPECT_TRUE(kestrune::TheInputList().empty());
}

}  // namespace
}  // namespace batch_tests
