// The whole GIF corpus (valid, odd and deliberately broken files) through the
// real program: nothing may crash, hang or leave a stray file behind, and a
// valid file must come out with its frames and its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "robustness/robustness_support.h"

namespace robustness {
namespace {

const char* const kAllFormats[] = {"bmp", "dds", "exr", "gif", "hdr", "ico", "j2k", "jng",
                                   "jp2", "jpg", "jxr", "pbm", "pcx", "pfm", "pgm", "png",
                                   "ppm", "psd", "tga", "tiff", "wbmp", "webp", "xpm"};

std::set<std::string> CorpusStems() {
    std::set<std::string> stems;
    for (const CorpusFile& f : CorpusTable()) stems.insert(StemOf(f.name));
    return stems;
}

class CorpusSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        ROBUSTNESS_REQUIRE_PROGRAM();
        KESTRUNE_REQUIRE_CORPUS();
        corpus_ = CorpusDir();
        table_ = CorpusTable();
        if (table_.empty()) GTEST_SKIP() << "the corpus has no readable SOURCES.md table";
    }

    std::string PathOf(const CorpusFile& f) const { return corpus_ + "/" + f.name; }

    // Every file of the corpus was taken, each verdict is "OK" or "Not OK",
    // every valid file converted, and the summary counts the "OK" lines.
    void ExpectSoundBatch(const BatchRun& run, const std::vector<CorpusFile>& inputs) {
        EXPECT_EQ(run.taken, static_cast<int>(inputs.size()));
        int ok = 0;
        for (const CorpusFile& f : inputs) {
            const auto verdict = run.verdicts.find(PathOf(f));
            if (verdict == run.verdicts.end()) {
                ADD_FAILURE() << f.name << " was not processed";
                continue;
            }
            EXPECT_TRUE(verdict->second == "OK" || verdict->second == "Not OK")
                << f.name << ": " << verdict->second;
            if (verdict->second == "OK") ++ok;
            if (f.status == "ok") {
                EXPECT_EQ(verdict->second, "OK") << "valid file failed: " << f.name;
            }
        }
        const auto [converted, total] = SummaryCounts(run.lines);
        if (ok > 0) {
            EXPECT_EQ(converted, ok);
            EXPECT_EQ(total, static_cast<int>(inputs.size()));
        }
    }

    // The outputs of each valid file: with "ALL" one per frame (numbered for
    // animations), otherwise one; each of the expected size.
    void ExpectValidOutputs(const std::string& out, const std::string& ext, bool all_frames,
                            const std::vector<CorpusFile>& inputs, int width = 0, int height = 0) {
        const std::vector<std::string> present = FilesBelow(out);
        const std::set<std::string> files(present.begin(), present.end());
        for (const CorpusFile& f : inputs) {
            if (f.status != "ok") continue;
            const GifLayout layout = ReadGifLayout(ReadFileBytes(PathOf(f)));
            // The table and an independent walk of the blocks agree on what the
            // file holds, so a wrong count below is the program's.
            EXPECT_EQ(layout.frames, f.frames) << f.name;
            EXPECT_EQ(layout.screen_width, f.screen_width) << f.name;
            EXPECT_EQ(layout.screen_height, f.screen_height) << f.name;
            const std::vector<std::string> expected =
                ExpectedOutputs(StemOf(f.name), all_frames ? layout.frames : 1, ext);
            for (const std::string& name : expected) {
                if (!files.count(name)) {
                    ADD_FAILURE() << "missing output " << name << " of " << f.name;
                    continue;
                }
                const auto [w, h] = ImageSizeOf(out + "/" + name);
                EXPECT_EQ(w, width ? width : layout.screen_width) << name;
                EXPECT_EQ(h, height ? height : layout.screen_height) << name;
            }
            // No output of another frame count (a numbered still, a bare
            // animation name).
            const std::string stem = StemOf(f.name);
            for (const std::string& file : present) {
                if (file.rfind(stem + ".", 0) == 0 || file.rfind(stem + "[", 0) == 0) {
                    EXPECT_TRUE(std::find(expected.begin(), expected.end(), file) != expected.end())
                        << "unexpected output " << file;
                }
            }
        }
    }

    std::string corpus_;
    std::vector<CorpusFile> table_;
};

// Each corpus file to three writers: FreeImage's PNG with every frame, the
// BMP writer and DevIL's PCX writer (which goes through a temporary file)
// with the last frame.
TEST_F(CorpusSweep, EveryFileToThreeFormats) {
    const struct {
        const char* ext;
        const char* frames;
    } sweeps[] = {{"png", "ALL"}, {"bmp", "LAST"}, {"pcx", "LAST"}};
    for (const auto& sweep : sweeps) {
        SCOPED_TRACE(std::string(sweep.ext) + " " + sweep.frames);
        TempDir out;
        const BatchRun run = RunDebugBatch(
            {"-i", corpus_ + "/", "-o", out.path(), "-c", sweep.ext, std::string("--gif-frame-loading=") + sweep.frames});
        ExpectSoundBatch(run, table_);
        EXPECT_EQ(UnexpectedFiles(out.path(), CorpusStems(), sweep.ext), std::vector<std::string>{});
        ExpectValidOutputs(out.path(), sweep.ext, std::string(sweep.frames) == "ALL", table_);
    }
}

// Every operation switched on at once: rotation, resize, a solid frame, then
// a text watermark and, in a second run, an image watermark. The resize comes
// after the rotation, so every frame ends at the resize's size.
TEST_F(CorpusSweep, EveryFileThroughEveryOperation) {
    TempDir work;
    // Every file through a list file, with all its frames.
    std::string list;
    for (const CorpusFile& f : table_) list += PathOf(f) + "\n";
    WriteFileBytes(work / "inputs.txt", list);
    const std::vector<CorpusFile>& inputs = table_;

    // A small logo with an alpha channel for the image watermark.
    {
        TestBitmap logo(FreeImage_Allocate(24, 16, 32));
        ASSERT_TRUE(logo);
        for (unsigned y = 0; y < 16; ++y) {
            BYTE* row = FreeImage_GetScanLine(logo.get(), static_cast<int>(y));
            for (unsigned x = 0; x < 24; ++x) {
                row[x * 4 + FI_RGBA_RED] = static_cast<BYTE>(x * 10);
                row[x * 4 + FI_RGBA_GREEN] = 200;
                row[x * 4 + FI_RGBA_BLUE] = static_cast<BYTE>(y * 15);
                row[x * 4 + FI_RGBA_ALPHA] = static_cast<BYTE>((x + y) % 2 ? 255 : 96);
            }
        }
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, logo.get(), (work / "logo.png").c_str(), 0));
    }

    const std::vector<std::string> operations = {
        "--rotation=30", "--rotation-back-color=FF8000", "--width=50", "--height=40",
        "--fr-solid-left=3", "--fr-solid-top=2", "--fr-solid-right=4", "--fr-solid-bottom=5",
        "--fr-solid-left-color=00FF00", "--fr-solid-opacity=180", "--flip-horizontal", "--brightness=10",
        "--contrast=-20", "--gamma=1.5", "--greyscale"};
    const std::vector<std::vector<std::string>> watermarks = {
        {"--wm-text=%filename% %width%x%height%", "--wm-text-position=BOTTOMRIGHT", "--wm-back-opacity=128"},
        {"--wm-image=" + work / "logo.png", "--wm-image-position=CENTER", "--wm-image-opacity=200"}};
    for (const auto& watermark : watermarks) {
        SCOPED_TRACE(watermark.front());
        TempDir out;
        std::vector<std::string> args{"-i", work / "inputs.txt", "-o", out.path(), "-c", "png"};
        args.insert(args.end(), operations.begin(), operations.end());
        args.insert(args.end(), watermark.begin(), watermark.end());
        const BatchRun run = RunDebugBatch(args);
        ExpectSoundBatch(run, inputs);
        EXPECT_EQ(UnexpectedFiles(out.path(), CorpusStems(), "png"), std::vector<std::string>{});
        ExpectValidOutputs(out.path(), "png", true, inputs, 50, 40);
    }
}

// A few files to every output format, in one run per format through a list
// file: a still, an animation, a transparent image larger than an icon and
// a small non-square animation.
TEST_F(CorpusSweep, SomeFilesToEveryFormat) {
    const std::vector<std::string> names = {"pillow__hopper.gif", "pillow__animated_hopper.gif",
                                            "pillow__transparent.gif", "wuffs__muybridge.gif"};
    TempDir work;
    std::string list;
    std::vector<CorpusFile> inputs;
    for (const CorpusFile& f : table_) {
        if (std::find(names.begin(), names.end(), f.name) == names.end()) continue;
        ASSERT_EQ(f.status, "ok") << f.name;
        list += PathOf(f) + "\n";
        inputs.push_back(f);
    }
    ASSERT_EQ(inputs.size(), names.size()) << "files missing from the corpus table";
    WriteFileBytes(work / "inputs.txt", list);

    for (const char* ext : kAllFormats) {
        SCOPED_TRACE(ext);
        TempDir out;
        const BatchRun run = RunDebugBatch({"-i", work / "inputs.txt", "-o", out.path(), "-c", ext});
        EXPECT_EQ(UnexpectedFiles(out.path(), CorpusStems(), ext), std::vector<std::string>{});
        const std::string extension = ext;
        // Debian's FreeImage cannot write JPEG XR at all.
        if (extension == "jxr") continue;
        for (const CorpusFile& f : inputs) {
            const GifLayout layout = ReadGifLayout(ReadFileBytes(PathOf(f)));
            int width = layout.screen_width, height = layout.screen_height;
            if (extension == "ico") {
                // FreeImage writes no icon of a non-square frame of 128 pixels or
                // less; larger frames become 128 x 128 first.
                if (width <= 128 && height <= 128 && width != height) continue;
                if (width > 128 || height > 128) width = height = 128;
            }
            // OpenJPEG, as FreeImage drives it, needs 32 pixels each way for its
            // six resolution levels.
            if ((extension == "j2k" || extension == "jp2") && (width < 32 || height < 32)) continue;
            EXPECT_EQ(run.verdicts.count(PathOf(f)) ? run.verdicts.at(PathOf(f)) : "", "OK") << f.name;
            for (const std::string& name : ExpectedOutputs(StemOf(f.name), layout.frames, ext)) {
                const std::string path = out / name;
                ASSERT_GT(BytesOf(path), 0) << "missing output " << name;
                const auto [w, h] = ImageSizeOf(path);
                // FreeImage reads back every format written, DevIL's included.
                EXPECT_EQ(w, width) << name;
                EXPECT_EQ(h, height) << name;
            }
        }
    }
}

}  // namespace
}  // namespace robustness
