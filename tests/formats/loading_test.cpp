#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "formats/loading.h"
#include "formats_support.h"
#include "support/gif_writer.h"

using namespace kestrune;
using testing_support::GifImage;
using testing_support::Rgba;
using testing_support::TempDir;

namespace {

TEST(SelectFrameRange, FixedCodesForCountsOneToFive) {
    const int middle[] = {0, 0, 0, 1, 1, 2};  // by count
    for (int count = 1; count <= 5; ++count) {
        SCOPED_TRACE(count);
        EXPECT_EQ(SelectFrameRange(count, 0), std::make_pair(0, count - 1));
        EXPECT_EQ(SelectFrameRange(count, 1), std::make_pair(0, 0));
        EXPECT_EQ(SelectFrameRange(count, 2), std::make_pair(middle[count], middle[count]));
        EXPECT_EQ(SelectFrameRange(count, 3), std::make_pair(count - 1, count - 1));
        // Unknown codes convert everything, like "ALL".
        EXPECT_EQ(SelectFrameRange(count, 5), std::make_pair(0, count - 1));
        EXPECT_EQ(SelectFrameRange(count, -1), std::make_pair(0, count - 1));
    }
}

TEST(SelectFrameRange, RandomPicksOneFrameAndReachesEveryFrame) {
    for (int count = 1; count <= 5; ++count) {
        std::set<int> seen;
        for (int i = 0; i < 400; ++i) {
            const auto [first, last] = SelectFrameRange(count, 4);
            ASSERT_EQ(first, last);
            ASSERT_GE(first, 0);
            ASSERT_LT(first, count);
            seen.insert(first);
        }
        EXPECT_EQ(static_cast<int>(seen.size()), count) << "count " << count;
    }
}

TEST(OpenFrameSource, GivesComposedThirtyTwoBitFrames) {
    TempDir dir;
    const std::string path = dir / "three.gif";
    testing_support::WriteGif(path, formats_test::ThreeFrames());
    FrameSource source = OpenFrameSource(path);
    ASSERT_EQ(source.frame_count, 3);
    ASSERT_TRUE(source.composer);

    Bitmap first = TakeFrame(source, 0);
    Bitmap third = TakeFrame(source, 2);
    ASSERT_TRUE(first && third);
    EXPECT_EQ(BppOf(first), 32);
    EXPECT_EQ(WidthOf(third), 40);
    EXPECT_EQ(HeightOf(third), 40);
    EXPECT_EQ(formats_test::ReadPixel(first.get(), 0, 0), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(formats_test::ReadPixel(first.get(), 10, 20), (Rgba{255, 0, 0, 255}));
    // Outside the patch the third frame is the second one.
    EXPECT_EQ(formats_test::ReadPixel(third.get(), 0, 0), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(formats_test::ReadPixel(third.get(), 10, 20), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(formats_test::ReadPixel(third.get(), 30, 30), (Rgba{255, 255, 0, 255}));

    // A taken frame is a copy: changing it leaves the page as it was.
    FreeImage_Invert(first.get());
    Bitmap again = TakeFrame(source, 0);
    EXPECT_EQ(formats_test::ReadPixel(again.get(), 0, 0), (Rgba{0, 0, 255, 255}));

    EXPECT_FALSE(TakeFrame(source, 3));
    EXPECT_FALSE(TakeFrame(source, -1));
    source = {};
    EXPECT_FALSE(source.composer);
}

TEST(OpenFrameSource, TransparentPixelsKeepZeroAlpha) {
    TempDir dir;
    GifImage gif = testing_support::LetterF(20, 20);
    gif.frames[0].transparent = 0;
    testing_support::WriteGif(dir / "t.gif", gif);
    FrameSource source = OpenFrameSource(dir / "t.gif");
    ASSERT_EQ(source.frame_count, 1);
    Bitmap frame = TakeFrame(source, 0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(formats_test::ReadPixel(frame.get(), 0, 0).a, 0);
    EXPECT_EQ(formats_test::ReadPixel(frame.get(), 5, 10), (Rgba{255, 0, 0, 255}));
}

TEST(OpenFrameSource, FilesThatAreNoGifGiveNoFrames) {
    TempDir dir;
    testing_support::WriteFileBytes(dir / "empty.gif", "");
    testing_support::WriteFileBytes(dir / "text.gif", "This is not an image at all.\n");
    Bitmap png(FreeImage_Allocate(4, 4, 24));
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, png.get(), (dir / "picture.gif").c_str(), 0));
    for (const char* name : {"empty.gif", "text.gif", "picture.gif", "missing.gif"}) {
        SCOPED_TRACE(name);
        FrameSource source = OpenFrameSource(dir / name);
        EXPECT_EQ(source.frame_count, 0);
        EXPECT_FALSE(TakeFrame(source, 0));
        source = {};
    }
}

struct CorpusEntry {
    std::string file;
    int width = 0, height = 0, frames = 0;
    std::string status;
};

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The table of SOURCES.md: file, source, path, licence, version, screen,
// frames, features, status, case.
std::vector<CorpusEntry> ReadCorpusTable(const std::string& dir) {
    std::vector<CorpusEntry> entries;
    std::ifstream in(dir + "/SOURCES.md");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| `", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream cells_in(line.substr(1));
        std::string cell;
        while (std::getline(cells_in, cell, '|')) cells.push_back(Trimmed(cell));
        if (cells.size() < 9) continue;
        CorpusEntry e;
        e.file = cells[0].substr(1, cells[0].size() - 2);
        std::sscanf(cells[5].c_str(), "%dx%d", &e.width, &e.height);
        e.frames = std::atoi(cells[6].c_str());
        e.status = cells[8];
        entries.push_back(e);
    }
    return entries;
}

TEST(OpenFrameSource, EveryCorpusFileOpensOrFailsCleanly) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string dir = testing_support::CorpusDir();
    const std::vector<CorpusEntry> table = ReadCorpusTable(dir);
    ASSERT_GT(table.size(), 50u) << "SOURCES.md table not understood";
    std::vector<std::string> failed;
    for (const CorpusEntry& e : table) {
        SCOPED_TRACE(e.file);
        FrameSource source = OpenFrameSource(dir + "/" + e.file);
        if (source.frame_count == 0) failed.push_back(e.file);
        // Every page: the composer carries its canvas forward, so taking all
        // of them costs no more than decoding each once.
        std::vector<int> pages;
        for (int i = 0; i < source.frame_count; ++i) pages.push_back(i);
        for (int i : pages) {
            Bitmap frame = TakeFrame(source, i);
            if (!frame) continue;  // a frame that cannot be taken is skipped by the worker
            // Every frame comes out composed on the logical screen at 32 bits.
            EXPECT_EQ(BppOf(frame), 32) << "frame " << i;
            if (e.status == "ok") {
                EXPECT_EQ(WidthOf(frame), e.width) << "frame " << i;
                EXPECT_EQ(HeightOf(frame), e.height) << "frame " << i;
            }
        }
        if (e.status == "ok") {
            EXPECT_EQ(source.frame_count, e.frames);
        }
        source = {};
    }
    // Which files FreeImage refuses, for the record; none of them is a valid file.
    std::string list;
    for (const std::string& f : failed) list += f + " ";
    RecordProperty("unreadable", list);
    std::cout << "[ corpus ] FreeImage gives no frames for " << failed.size() << " files: " << list
              << "\n";
    for (const CorpusEntry& e : table) {
        if (e.status == "ok") {
            EXPECT_EQ(std::count(failed.begin(), failed.end(), e.file), 0) << e.file;
        }
    }
}

}  // namespace
