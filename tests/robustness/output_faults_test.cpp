// Faults on the output side: a disk that fills up and a folder that may not
// be written. The files concerned fail, nothing partial or temporary stays
// behind, the batch goes on and the summary counts what was written.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

// A w x h image of random pixels over a 256-colour palette: no encoder can
// make it much smaller than one byte a pixel.
GifImage Noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    GifImage gif;
    gif.width = width;
    gif.height = height;
    for (int i = 0; i < 256; ++i) {
        gif.global_palette.push_back(
            {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), static_cast<uint8_t>(random())});
    }
    GifFrame frame = SolidFrame(width, height, 0);
    for (auto& index : frame.indices) index = static_cast<uint8_t>(random());
    gif.frames.push_back(frame);
    return gif;
}

// A file system mounted for the length of a test, detached on every way out.
class ScopedMount {
  public:
    bool Mount(const char* source, const std::string& target, const char* type, unsigned long flags,
               const char* data) {
        if (mount(source, target.c_str(), type, flags, data) != 0) return false;
        target_ = target;
        return true;
    }
    ~ScopedMount() {
        if (!target_.empty()) umount2(target_.c_str(), MNT_DETACH);
    }

  private:
    std::string target_;
};

// Five inputs into a 200 KB file system: two are too large for it whatever
// the order, three small ones always fit (a failed file leaves nothing that
// takes their room). PNG and TGA through FreeImage and PCX through DevIL,
// whose encoders do not look at the results of their writes.
TEST(OutputFaults, FullDiskFailsTheFilesThatDoNotFit) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, work;
    const std::vector<std::string> large = {"large1", "large2"};
    const std::vector<std::string> small = {"small1", "small2", "small3"};
    for (size_t i = 0; i < large.size(); ++i) WriteGif(in / (large[i] + ".gif"), Noise(640, 480, 7 + i));
    for (size_t i = 0; i < small.size(); ++i) WriteGif(in / (small[i] + ".gif"), Noise(16, 12, 70 + i));

    for (const char* ext : {"png", "tga", "pcx", "bmp"}) {
        SCOPED_TRACE(ext);
        const std::string out = work / ext;
        ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
        ScopedMount disk;
        if (!disk.Mount("tmpfs", out, "tmpfs", 0, "size=200k"))
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << std::strerror(errno);

        // One file at a time: files converted side by side share the room
        // left, so which of them a full disk cuts off depends on timing.
        RunOptions one_at_a_time;
        one_at_a_time.env["KESTRUNE_THREADS"] = "1";
        const BatchRun run = RunDebugBatch({"-i", in.path() + "/", "-o", out, "-c", ext}, 600, one_at_a_time);
        for (const std::string& stem : large) {
            EXPECT_EQ(run.verdicts.count(in / (stem + ".gif")) ? run.verdicts.at(in / (stem + ".gif")) : "",
                      "Not OK")
                << stem;
        }
        std::vector<std::string> expected;
        for (const std::string& stem : small) {
            EXPECT_EQ(run.verdicts.count(in / (stem + ".gif")) ? run.verdicts.at(in / (stem + ".gif")) : "", "OK")
                << stem;
            expected.push_back(stem + "." + ext);
            EXPECT_EQ(ImageSizeOf(out + "/" + stem + "." + ext), std::make_pair(16, 12)) << stem;
        }
        // Neither the cut files nor their temporaries.
        EXPECT_EQ(FilesBelow(out), expected);
        EXPECT_EQ(SummaryCounts(run.lines), std::make_pair(3, 5));
    }
}

// Inputs in two subfolders, reproduced in the output; one output subfolder
// may not be written. Its files fail, the other folder's convert.
TEST(OutputFaults, ReadOnlyOutputFolderFailsItsFilesOnly) {
    ROBUSTNESS_REQUIRE_PROGRAM();
    TempDir in, out;
    ASSERT_EQ(mkdir((in / "open").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((in / "locked").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((out / "open").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((out / "locked").c_str(), 0700), 0);
    for (int i = 0; i < 3; ++i) {
        WriteGif(in / ("open/a" + std::to_string(i) + ".gif"), LetterF(20 + i, 10));
        WriteGif(in / ("locked/b" + std::to_string(i) + ".gif"), LetterF(20 + i, 10));
    }
    // Permissions do not stop root; a read-only bind mount does.
    ScopedMount read_only;
    if (geteuid() == 0) {
        const std::string locked = out / "locked";
        if (!read_only.Mount(locked.c_str(), locked, nullptr, MS_BIND, nullptr))
            GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
        if (mount(nullptr, locked.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            GTEST_SKIP() << "cannot remount read-only here: " << std::strerror(errno);
    } else {
        ASSERT_EQ(chmod((out / "locked").c_str(), 0555), 0);
    }

    for (const char* ext : {"png", "pcx", "bmp"}) {
        SCOPED_TRACE(ext);
        const BatchRun run = RunDebugBatch({"-i", in.path() + "/", "-o", out.path(), "-c", ext});
        std::vector<std::string> expected;
        for (int i = 0; i < 3; ++i) {
            const std::string a = "open/a" + std::to_string(i);
            const std::string b = "locked/b" + std::to_string(i);
            EXPECT_EQ(run.verdicts.count(in / (a + ".gif")) ? run.verdicts.at(in / (a + ".gif")) : "", "OK");
            EXPECT_EQ(run.verdicts.count(in / (b + ".gif")) ? run.verdicts.at(in / (b + ".gif")) : "", "Not OK");
            expected.push_back(a + "." + ext);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FilesBelow(out.path()), expected);
        EXPECT_EQ(SummaryCounts(run.lines), std::make_pair(3, 6));
        for (const std::string& f : expected) EXPECT_GT(BytesOf(out / f), 0) << f;
        EXPECT_EQ(FilesBelow(out / "locked"), std::vector<std::string>{});
        // Clear the open folder for the next format.
        for (const std::string& f : FilesBelow(out / "open")) unlink((out / ("open/" + f)).c_str());
    }
}

}  // namespace
}  // namespace robustness
