#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "formats/loading.h"
#include "imaging/size_limit.h"
#include "formats_support.h"
#include "platform/clock.h"

using namespace kestrune;
using formats_test::ReadPixel;
using testing_support::ReadFileBytes;
using testing_support::Rgba;
using testing_support::TempDir;

namespace {

class SavingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        formats_test::InitLibraries();
        s = formats_test::CommandLineSettings();
    }
    Settings s;
};

Bitmap Checkerboard(int w, int h) {
    return formats_test::MakeBitmap32(w, h, [](int x, int y) {
        return ((x / 4 + y / 4) % 2) ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 255, 255};
    });
}

uint32_t Le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

TEST_F(SavingTest, FlagsOfTheDocumentedExamples) {
    s.png_compression = 2;
    s.png_interlaced = 1;
    EXPECT_EQ(SaveFlagsFor("png", s), 518);
    s.tiff_compression = 6;
    s.tiff_color_model = 1;
    EXPECT_EQ(SaveFlagsFor("tiff", s), 16385);
    s.tiff_color_model = 2;  // LAB adds nothing
    EXPECT_EQ(SaveFlagsFor("tiff", s), 16384);
    s.exr_compression = 2;
    EXPECT_EQ(SaveFlagsFor("exr", s), 8);
    s.jpg_quality = 90;
    s.jpg_chroma = 2;
    s.jpg_save_as = 3;
    EXPECT_EQ(SaveFlagsFor("jpg", s), 24666);
    EXPECT_EQ(SaveFlagsFor("jxr", s), 100);
    EXPECT_EQ(SaveFlagsFor("webp", s), 256);
}

TEST_F(SavingTest, FlagsOfEveryCode) {
    const int exr[] = {2, 4, 8, 16, 32};
    for (int code = 0; code < 5; ++code) {
        s.exr_compression = code;
        EXPECT_EQ(SaveFlagsFor("exr", s), exr[code]) << code;
    }
    const int tiff[] = {2048, 4096, 8192, 256, 512, 1024, 16384, 32768, 65536};
    s.tiff_color_model = 0;
    for (int code = 0; code < 9; ++code) {
        s.tiff_compression = code;
        EXPECT_EQ(SaveFlagsFor("tiff", s), tiff[code]) << code;
    }
    const int png[] = {256, 1, 6, 9};
    s.png_interlaced = 0;
    for (int code = 0; code < 4; ++code) {
        s.png_compression = code;
        EXPECT_EQ(SaveFlagsFor("png", s), png[code]) << code;
    }
    const int chroma[] = {65536, 32768, 16384, 4096};
    const int mode[] = {0, 262144, 131072, 8192};
    s.jpg_quality = 75;
    for (int c = 0; c < 4; ++c)
        for (int m = 0; m < 4; ++m) {
            s.jpg_chroma = c;
            s.jpg_save_as = m;
            EXPECT_EQ(SaveFlagsFor("jpg", s), 75 | chroma[c] | mode[m]) << c << "," << m;
        }
    s.bmp_compression = 1;
    s.tga_compression = 1;
    EXPECT_EQ(SaveFlagsFor("bmp", s), 1);
    EXPECT_EQ(SaveFlagsFor("tga", s), 2);
    s.bmp_compression = 0;
    s.tga_compression = 0;
    EXPECT_EQ(SaveFlagsFor("bmp", s), 0);
    EXPECT_EQ(SaveFlagsFor("tga", s), 0);
    // Codes outside a table leave the word as it was.
    s.exr_compression = 9;
    EXPECT_EQ(SaveFlagsFor("exr", s), 0);
    for (const char* ext : {"dds", "gif", "hdr", "ico", "j2k", "jng", "jp2", "pbm", "pcx", "pfm",
                            "pgm", "ppm", "psd", "wbmp", "xpm"})
        EXPECT_EQ(SaveFlagsFor(ext, s), 0) << ext;
}

TEST_F(SavingTest, OutputFrameFormatTakesTheSettings) {
    s.tga_bpp = 16;
    s.tga_compression = 1;
    FrameFormat tga = OutputFrameFormat("tga", s);
    EXPECT_EQ(tga.bpp, 16);
    EXPECT_EQ(tga.save_flags, 2);
    EXPECT_TRUE(tga.rgb555);
    EXPECT_EQ(OutputFrameFormat("psd", s).bpp, 0);
}

TEST_F(SavingTest, IconSizeLimit) {
    FrameContext ico = formats_test::StateFor("ico", s);
    Bitmap big = LimitSize(Checkerboard(200, 100), ico);
    EXPECT_EQ(WidthOf(big), 128);
    EXPECT_EQ(HeightOf(big), 128);

    Bitmap exact = Checkerboard(128, 128);
    FIBITMAP* before = exact.get();
    exact = LimitSize(std::move(exact), ico);
    EXPECT_EQ(exact.get(), before);

    Bitmap tall = LimitSize(Checkerboard(10, 129), ico);
    EXPECT_EQ(WidthOf(tall), 128);
    EXPECT_EQ(HeightOf(tall), 128);

    FrameContext png = formats_test::StateFor("png", s);
    EXPECT_EQ(WidthOf(LimitSize(Checkerboard(200, 100), png)), 200);

    // The limited frame is what FreeImage writes as an icon.
    TempDir dir;
    Bitmap icon = LimitSize(Checkerboard(200, 100), ico);
    ASSERT_EQ(SaveFrame(icon, dir / "a.ico", ico), SaveResult::Saved);
    testing_support::TestBitmap back = testing_support::LoadImageFile(dir / "a.ico");
    ASSERT_TRUE(back);
    EXPECT_EQ(FreeImage_GetWidth(back.get()), 128u);
    EXPECT_EQ(FreeImage_GetHeight(back.get()), 128u);
}

TEST_F(SavingTest, DdsHasMipmapsPsdAndPcxAreSingleImages) {
    TempDir dir;
    for (const char* ext : {"dds", "psd", "pcx"}) {
        SCOPED_TRACE(ext);
        FrameContext state = formats_test::StateFor(ext, s);
        Bitmap image = Checkerboard(40, 24);
        if (std::string(ext) == "pcx") image.reset(FreeImage_ConvertTo24Bits(image.get()));
        const std::string target = dir / (std::string("out.") + ext);
        ASSERT_EQ(SaveFrame(image, target, state), SaveResult::Saved);
        const std::string bytes = ReadFileBytes(target);
        ASSERT_GT(bytes.size(), 128u);
        if (std::string(ext) == "dds") {
            ASSERT_EQ(bytes.substr(0, 4), "DDS ");
            EXPECT_EQ(Le32(bytes, 12), 24u);               // height
            EXPECT_EQ(Le32(bytes, 16), 40u);               // width
            EXPECT_NE(Le32(bytes, 8) & 0x20000u, 0u);      // mipmap count present
            EXPECT_EQ(Le32(bytes, 28), 6u);                // 40x24 down to 1x1
        } else if (std::string(ext) == "psd") {
            ASSERT_EQ(bytes.substr(0, 4), "8BPS");
            const auto be32 = [&](size_t at) {
                return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
                       uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
            };
            EXPECT_EQ(be32(14), 24u);
            EXPECT_EQ(be32(18), 40u);
        } else {
            EXPECT_EQ(uint8_t(bytes[0]), 0x0A);  // ZSoft
            EXPECT_EQ(uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8, 39);   // xmax
            EXPECT_EQ(uint8_t(bytes[10]) | uint8_t(bytes[11]) << 8, 23);  // ymax
        }
        if (formats_test::HaveImageMagick() && std::string(ext) != "dds") {
            // One picture only, at full size.
            EXPECT_EQ(formats_test::CommandOutput("identify -format '%wx%h\\n' '" + target +
                                                  "' 2>/dev/null"),
                      "40x24\n");
        }
    }
}

TEST_F(SavingTest, DevilOutputsKeepOrientationAndChannels) {
    if (!formats_test::HaveImageMagick()) GTEST_SKIP() << "ImageMagick not installed";
    TempDir dir;
    // Top half red, bottom-left green, bottom-right blue: a flip or a
    // swapped channel changes what ImageMagick reads.
    auto colour = [](int x, int y) {
        if (y < 8) return Rgba{255, 0, 0, 255};
        return x < 8 ? Rgba{0, 255, 0, 255} : Rgba{0, 0, 255, 255};
    };
    for (const char* ext : {"dds", "psd", "pcx"}) {
        SCOPED_TRACE(ext);
        FrameContext state = formats_test::StateFor(ext, s);
        Bitmap image = formats_test::MakeBitmap32(16, 16, colour);
        if (std::string(ext) == "pcx") image.reset(FreeImage_ConvertTo24Bits(image.get()));
        const std::string target = dir / (std::string("o.") + ext);
        ASSERT_EQ(SaveFrame(image, target, state), SaveResult::Saved);
        const std::string png = dir / (std::string(ext) + ".png");
        formats_test::CommandOutput("convert '" + target + "[0]' 'png:" + png + "'");
        testing_support::TestBitmap back = testing_support::LoadImageFile(png);
        ASSERT_TRUE(back);
        EXPECT_EQ(ReadPixel(back.get(), 4, 2), (Rgba{255, 0, 0, 255}));
        EXPECT_EQ(ReadPixel(back.get(), 2, 13), (Rgba{0, 255, 0, 255}));
        EXPECT_EQ(ReadPixel(back.get(), 13, 13), (Rgba{0, 0, 255, 255}));
    }
}

TEST_F(SavingTest, ReadOnlyTargetOfDevilFormatsIsReplaced) {
    TempDir dir;
    for (const char* ext : {"dds", "pcx", "psd"}) {
        SCOPED_TRACE(ext);
        const std::string target = dir / (std::string("old.") + ext);
        testing_support::WriteFileBytes(target, "old contents");
        ASSERT_EQ(chmod(target.c_str(), 0444), 0);
        FrameContext state = formats_test::StateFor(ext, s);
        Bitmap image = Checkerboard(16, 16);
        if (std::string(ext) == "pcx") image.reset(FreeImage_ConvertTo24Bits(image.get()));
        ASSERT_EQ(SaveFrame(image, target, state), SaveResult::Saved);
        testing_support::TestBitmap back = testing_support::LoadImageFile(target);
        ASSERT_TRUE(back);
        EXPECT_EQ(FreeImage_GetWidth(back.get()), 16u);
    }
    EXPECT_EQ(testing_support::ListNames(dir.path()),
              (std::vector<std::string>{"old.dds", "old.pcx", "old.psd"}));
}

// An 8-bit frame using palette indexes 0..9 of a full 256-entry palette.
Bitmap TenColourFrame() {
    Bitmap image(FreeImage_Allocate(21, 13, 8));
    // FreeImage leaves the row padding uninitialised and writes it out as is.
    std::memset(FreeImage_GetBits(image.get()), 0, FreeImage_GetPitch(image.get()) * 13);
    RGBQUAD* palette = FreeImage_GetPalette(image.get());
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{BYTE(i * 7), BYTE(255 - i), BYTE(i * 3), 0};
    for (int y = 0; y < 13; ++y) {
        BYTE* row = FreeImage_GetScanLine(image.get(), y);
        for (int x = 0; x < 21; ++x) row[x] = static_cast<BYTE>((x / 3 + y) % 10);
    }
    return image;
}

// Where an RLE8 stream has the pad byte of an odd absolute run.
std::vector<size_t> Rle8PadBytes(const std::string& pixels) {
    std::vector<size_t> pads;
    for (size_t at = 0; at + 1 < pixels.size();) {
        const uint8_t count = pixels[at], code = pixels[at + 1];
        at += 2;
        if (count != 0 || code == 0) continue;
        if (code == 1) break;
        at += code == 2 ? 2 : code;
        if (code > 2 && code % 2 == 1 && at < pixels.size()) pads.push_back(at++);
    }
    return pads;
}

std::string InMemoryBmp(const Bitmap& image, int flags) {
    MemoryStream memory(FreeImage_OpenMemory());
    EXPECT_TRUE(FreeImage_SaveToMemory(FIF_BMP, image.get(), memory.get(), flags));
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory.get(), &data, &size);
    return std::string(reinterpret_cast<char*>(data), size);
}

TEST_F(SavingTest, ExactColourTableBmp) {
    TempDir dir;
    for (int compression : {0, 1}) {
        SCOPED_TRACE(compression);
        s.bmp_color_table = 1;
        s.bmp_compression = compression;
        s.bmp_bpp = 8;
        FrameContext state = formats_test::StateFor("bmp", s);
        Bitmap image = TenColourFrame();
        const std::string memory = InMemoryBmp(image, state.format.save_flags);
        const std::string target = dir / ("exact" + std::to_string(compression) + ".bmp");
        ASSERT_EQ(SaveFrame(image, target, state), SaveResult::Saved);

        const std::string bytes = ReadFileBytes(target);
        ASSERT_EQ(bytes.size() + 984, memory.size());
        EXPECT_EQ(bytes.substr(0, 2), "BM");
        EXPECT_EQ(Le32(bytes, 2), bytes.size());
        EXPECT_EQ(Le32(bytes, 6), 0u);
        EXPECT_EQ(Le32(bytes, 10), 94u);
        EXPECT_EQ(Le32(bytes, 14), 40u);
        EXPECT_EQ(Le32(bytes, 30), uint32_t(compression));
        EXPECT_EQ(Le32(bytes, 34), memory.size() - 1078);
        EXPECT_EQ(Le32(bytes, 46), 10u);
        EXPECT_EQ(Le32(bytes, 50), 10u);
        // Header fields that are not rebuilt come from the image's own header.
        EXPECT_EQ(bytes.substr(18, 12), memory.substr(18, 12));
        EXPECT_EQ(bytes.substr(54, 40), memory.substr(54, 40));
        // The pixels are FreeImage's, except the pad byte after an odd
        // absolute run of the RLE8 stream: FreeImage leaves it unset, the
        // file has it 0, so that one frame always gives the same bytes.
        std::string pixels = bytes.substr(94), expected = memory.substr(1078);
        ASSERT_EQ(pixels.size(), expected.size());
        if (compression == 1) {
            for (size_t at : Rle8PadBytes(pixels)) {
                EXPECT_EQ(pixels[at], 0) << "pad byte at " << at;
                expected[at] = pixels[at];
            }
        }
        EXPECT_EQ(pixels, expected);

        // FreeImage cannot read back its own run-length BMPs (it rejects the
        // end of its RLE8 stream), so those are judged by ImageMagick.
        testing_support::TestBitmap back;
        if (compression == 0) {
            back = testing_support::LoadImageFile(target);
        } else if (formats_test::HaveImageMagick()) {
            formats_test::CommandOutput("convert '" + target + "' 'png:" + target + ".png' 2>/dev/null");
            back = testing_support::LoadImageFile(target + ".png");
        } else {
            continue;
        }
        ASSERT_TRUE(back);
        const RGBQUAD* palette = FreeImage_GetPalette(image.get());
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 21; ++x) {
                const RGBQUAD& p = palette[(x / 3 + (12 - y)) % 10];
                ASSERT_EQ(ReadPixel(back.get(), x, y), (Rgba{p.rgbRed, p.rgbGreen, p.rgbBlue, 255}))
                    << x << "," << y;
            }
        if (formats_test::HaveImageMagick() && compression == 0) {
            EXPECT_EQ(formats_test::IdentifySize(target), "21 13");
        }
    }
}

TEST_F(SavingTest, RunLengthBmpHasItsPadBytesCleared) {
    // FreeImage leaves them unset: the same frame gave other bytes from run
    // to run. This corpus frame has odd absolute runs.
    KESTRUNE_REQUIRE_CORPUS();
    TempDir dir;
    const auto run = testing_support::RunKestrune({"-i", testing_support::CorpusDir() + "/imagegif__bench-test.gif",
                                                   "-o", dir.path(), "-c", "bmp", "--bmp-bpp=8",
                                                   "--bmp-compression=RLE", "-q"});
    ASSERT_EQ(run.exit_code, 0);
    const std::string bytes = ReadFileBytes(dir / "imagegif__bench-test.bmp");
    ASSERT_GT(bytes.size(), 54u);
    const std::string pixels = bytes.substr(Le32(bytes, 10));
    const std::vector<size_t> pads = Rle8PadBytes(pixels);
    ASSERT_FALSE(pads.empty());
    for (size_t at : pads) EXPECT_EQ(pixels[at], 0) << "pad byte at " << at;
}

TEST_F(SavingTest, ExactColourTableNeedsEightBitTarget) {
    TempDir dir;
    s.bmp_color_table = 1;
    s.bmp_bpp = 24;
    FrameContext state = formats_test::StateFor("bmp", s);
    Bitmap image(FreeImage_ConvertTo24Bits(TenColourFrame().get()));
    ASSERT_EQ(SaveFrame(image, dir / "plain.bmp", state), SaveResult::Saved);
    const std::string bytes = ReadFileBytes(dir / "plain.bmp");
    EXPECT_EQ(Le32(bytes, 10), 54u);
    EXPECT_EQ(Le32(bytes, 2), bytes.size());
}

TEST_F(SavingTest, EmptyImageFailsEveryWriterAndKeepsTheTarget) {
    TempDir dir;
    s.bmp_color_table = 1;
    s.bmp_bpp = 8;
    for (const char* ext : {"png", "bmp", "dds", "pcx", "psd"}) {
        SCOPED_TRACE(ext);
        const std::string target = dir / (std::string("keep.") + ext);
        testing_support::WriteFileBytes(target, "earlier output");
        FrameContext state = formats_test::StateFor(ext, s);
        EXPECT_EQ(SaveFrame(Bitmap(), target, state), SaveResult::Failed);
        EXPECT_EQ(ReadFileBytes(target), "earlier output");
    }
    EXPECT_EQ(testing_support::ListNames(dir.path()).size(), 5u);
}

TEST_F(SavingTest, RefusedEncodingLeavesTheEarlierOutputAlone) {
    // FreeImage writes GIF from 8-bit frames only; its refusal comes after
    // the file it writes to has been opened.
    TempDir dir;
    const std::string target = dir / "still.gif";
    testing_support::WriteFileBytes(target, "earlier gif");
    FrameContext state = formats_test::StateFor("gif", s);
    EXPECT_EQ(SaveFrame(Checkerboard(40, 20), target, state), SaveResult::Failed);
    EXPECT_EQ(ReadFileBytes(target), "earlier gif");
    EXPECT_EQ(testing_support::ListNames(dir.path()), std::vector<std::string>{"still.gif"});
}

TEST_F(SavingTest, FailedSavesLeaveNoFiles) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.png");
    std::filesystem::create_directory(dir / "folder.dds");
    s.bmp_color_table = 1;
    s.bmp_bpp = 8;
    const std::string long_name(300, 'n');
    struct Case {
        const char* ext;
        std::string target;
    };
    const Case cases[] = {
        {"png", dir / "missing/out.png"}, {"dds", dir / "missing/out.dds"},
        {"bmp", dir / "missing/out.bmp"}, {"png", dir / "folder.png"},
        {"dds", dir / "folder.dds"},      {"png", dir / (long_name + ".png")},
        {"psd", dir / (long_name + ".psd")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.substr(dir.path().size()).substr(0, 40));
        FrameContext state = formats_test::StateFor(c.ext, s);
        Bitmap image = std::string(c.ext) == "bmp" ? TenColourFrame() : Checkerboard(16, 16);
        EXPECT_EQ(SaveFrame(image, c.target, state), SaveResult::Failed);
    }
    // Only the two folders remain, still empty; no temporary file anywhere.
    EXPECT_EQ(testing_support::ListNames(dir.path()),
              (std::vector<std::string>{"folder.dds", "folder.png"}));
    EXPECT_TRUE(testing_support::ListNames(dir / "folder.png").empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(SavingTest, UnwritableFolderFailsCleanly) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: every folder is writable";
    TempDir dir;
    std::filesystem::create_directory(dir / "locked");
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
    for (const char* ext : {"png", "dds"}) {
        FrameContext state = formats_test::StateFor(ext, s);
        EXPECT_EQ(SaveFrame(Checkerboard(16, 16), dir / (std::string("locked/o.") + ext), state),
                  SaveResult::Failed);
    }
    EXPECT_TRUE(testing_support::ListNames(dir / "locked").empty());
    chmod((dir / "locked").c_str(), 0755);
}

TEST_F(SavingTest, SavingOverTheInputKeepsItReadable) {
    // The target is the GIF whose frames are still being taken: each frame
    // must come from the original file, not from the one just written.
    TempDir dir;
    const std::string path = dir / "self.gif";
    const testing_support::GifImage gif = formats_test::ThreeFrames();
    testing_support::WriteGif(path, gif);
    FrameSource source = OpenFrameSource(path);
    ASSERT_EQ(source.frame_count, 3);
    FrameContext state = formats_test::StateFor("gif", s);
    state.format.bpp = 8;
    for (int k = 0; k < 3; ++k) {
        Bitmap frame = TakeFrame(source, k);
        ASSERT_TRUE(frame) << k;
        EXPECT_EQ(ReadPixel(frame.get(), 30, 30), formats_test::ComposedPixel(gif, k, 30, 30)) << k;
        Bitmap rgb(FreeImage_ConvertTo24Bits(frame.get()));
        Bitmap eight(FreeImage_ColorQuantizeEx(rgb.get(), FIQ_WUQUANT));
        ASSERT_EQ(SaveFrame(eight, path, state), SaveResult::Saved);
    }
    source = {};
    FrameSource written = OpenFrameSource(path);
    ASSERT_EQ(written.frame_count, 1);
    Bitmap last = TakeFrame(written, 0);
    EXPECT_EQ(ReadPixel(last.get(), 30, 30), (Rgba{255, 255, 0, 255}));
}

}  // namespace
