// The own PNG writer against FreeImage's, frame by frame: the same pixels
// (and colour type) read back, never a larger file at ZLIB6 and ZLIB9, and
// the generated frames read back by ImageMagick as well.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/loading.h"
#include "formats/png_writer.h"
#include "formats_support.h"
#include "support/gif_writer.h"
#include "support/harness.h"

using namespace kestrune;
using namespace testing_support;
using formats_test::HaveImageMagick;

namespace {

struct WriterRow {
    const char* name;
    bool corpus;  // the corpus frames, else generated frames with transparency
    int bpp;
    int flags;
    // Every frame, or every n-th of each file (its first always): zlib's
    // level 9 is slow on the corpus.
    int frame_stride = 1;
    // How much larger than the library's a file may be. At 24 bits the
    // colours under a frame's transparent pixels stay, and on a few corpus
    // frames so kept zlib beats every libdeflate level up to 9 by up to
    // 0.75%; the frames the program writes by default (32 bits) never do.
    double size_slack = 1.0;
};

void PrintTo(const WriterRow& row, std::ostream* os) { *os << row.name; }

const WriterRow kRows[] = {
    {"generated_24_none", false, 24, PNG_Z_NO_COMPRESSION},
    {"generated_24_zlib1", false, 24, PNG_Z_BEST_SPEED},
    {"generated_24_zlib6", false, 24, PNG_Z_DEFAULT_COMPRESSION},
    {"generated_24_zlib9", false, 24, PNG_Z_BEST_COMPRESSION},
    {"generated_32_none", false, 32, PNG_Z_NO_COMPRESSION},
    {"generated_32_zlib1", false, 32, PNG_Z_BEST_SPEED},
    {"generated_32_zlib6", false, 32, PNG_Z_DEFAULT_COMPRESSION},
    {"generated_32_zlib9", false, 32, PNG_Z_BEST_COMPRESSION},
    {"corpus_24_none", true, 24, PNG_Z_NO_COMPRESSION},
    {"corpus_24_zlib1", true, 24, PNG_Z_BEST_SPEED},
    {"corpus_24_zlib6", true, 24, PNG_Z_DEFAULT_COMPRESSION, 1, 1.01},
    {"corpus_24_zlib9", true, 24, PNG_Z_BEST_COMPRESSION, 5, 1.01},
    {"corpus_32_none", true, 32, PNG_Z_NO_COMPRESSION},
    {"corpus_32_zlib1", true, 32, PNG_Z_BEST_SPEED},
    {"corpus_32_zlib6", true, 32, PNG_Z_DEFAULT_COMPRESSION},
    {"corpus_32_zlib9", true, 32, PNG_Z_BEST_COMPRESSION, 5},
};

// An odd width (padded 24-bit rows), noise that makes every row filter win
// somewhere, an opaque first frame (written as RGB), then transparency
// through a transparent index and a frame disposed to the background.
GifImage GeneratedFrames() {
    std::mt19937 random(29);
    GifImage gif;
    gif.width = 37;
    gif.height = 23;
    for (int i = 0; i < 256; ++i) gif.global_palette.push_back({uint8_t(random()), uint8_t(i), uint8_t(255 - i)});
    GifFrame first = SolidFrame(37, 23, 0);
    for (size_t i = 0; i < first.indices.size(); ++i)
        first.indices[i] = static_cast<uint8_t>(i % 7 == 0 ? random() % 255 : (i / 37) * 9 + 1);
    first.disposal = 1;
    GifFrame holes = SolidFrame(20, 15, 255);
    holes.left = 5;
    holes.top = 4;
    for (size_t i = 0; i < holes.indices.size(); i += 3) holes.indices[i] = static_cast<uint8_t>(i);
    holes.transparent = 255;
    holes.disposal = 2;
    GifFrame patch = SolidFrame(9, 9, 40);
    patch.left = 28;
    patch.top = 14;
    gif.frames = {first, holes, patch};
    return gif;
}

std::vector<std::string> Sources(bool corpus, const TempDir& dir) {
    if (corpus) {
        std::vector<std::string> files;
        for (const std::string& name : ListNames(CorpusDir()))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0) files.push_back(CorpusDir() + "/" + name);
        return files;
    }
    WriteGif(dir / "generated.gif", GeneratedFrames());
    return {dir / "generated.gif"};
}

// The pixel bytes of a decoded file, row by row, with the depth in front.
std::string DecodedPixels(const uint8_t* file, size_t size) {
    FIMEMORY* memory = FreeImage_OpenMemory(const_cast<uint8_t*>(file), static_cast<DWORD>(size));
    TestBitmap image(FreeImage_LoadFromMemory(FIF_PNG, memory, 0));
    FreeImage_CloseMemory(memory);
    if (!image) return "unreadable";
    std::string pixels = std::to_string(FreeImage_GetBPP(image.get())) + ":";
    const unsigned line = FreeImage_GetLine(image.get());
    for (unsigned y = 0; y < FreeImage_GetHeight(image.get()); ++y)
        pixels.append(reinterpret_cast<const char*>(FreeImage_GetScanLine(image.get(), static_cast<int>(y))), line);
    return pixels;
}

// The file as ImageMagick reads it, RGBA top-down, against FreeImage's
// reading of the library writer's file.
void ExpectImageMagickReads(const TempDir& dir, const std::vector<uint8_t>& own, FIBITMAP* frame, int bpp) {
    const std::string png = dir / "own.png", raw = dir / "own.rgba";
    WriteFileBytes(png, std::string(own.begin(), own.end()));
    ASSERT_EQ(std::system(("convert '" + png + "' -depth 8 rgba:'" + raw + "'").c_str()), 0);
    const std::string rgba = ReadFileBytes(raw);
    const int width = static_cast<int>(FreeImage_GetWidth(frame)), height = static_cast<int>(FreeImage_GetHeight(frame));
    ASSERT_EQ(rgba.size(), size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgba want = PixelAt(frame, x, y);
            if (bpp == 24) want.a = 255;
            const char* got = rgba.data() + (size_t(y) * width + x) * 4;
            ASSERT_EQ((Rgba{uint8_t(got[0]), uint8_t(got[1]), uint8_t(got[2]), uint8_t(got[3])}), want)
                << "at " << x << "," << y;
        }
    }
}

class PngWriterTest : public testing::TestWithParam<WriterRow> {};

TEST_P(PngWriterTest, SamePixelsAsTheLibraryWriterAndNoLargerFile) {
    const WriterRow& row = GetParam();
    if (row.corpus) KESTRUNE_REQUIRE_CORPUS();
    if (!row.corpus) {
        ASSERT_TRUE(HaveImageMagick()) << "ImageMagick's convert is needed";
    }
    TempDir dir;
    int frames = 0;
    for (const std::string& path : Sources(row.corpus, dir)) {
        FrameSource source = OpenFrameSource(path);
        for (int index = 0; index < source.frame_count; index += row.frame_stride) {
            Bitmap taken = TakeFrame(source, index);
            ASSERT_TRUE(taken) << path << " frame " << index;
            Bitmap frame(row.bpp == 32 ? taken.release() : FreeImage_ConvertTo24Bits(taken.get()));
            ASSERT_TRUE(PngWriterTakes(frame.get()));
            std::vector<uint8_t> own;
            ASSERT_TRUE(EncodePng(frame.get(), PngCompressionFor(row.flags), own));
            MemoryStream library(FreeImage_OpenMemory());
            ASSERT_TRUE(FreeImage_SaveToMemory(FIF_PNG, frame.get(), library.get(), row.flags));
            BYTE* library_file = nullptr;
            DWORD library_size = 0;
            FreeImage_AcquireMemory(library.get(), &library_file, &library_size);
            const std::string where = path + " frame " + std::to_string(index);
            ASSERT_EQ(DecodedPixels(own.data(), own.size()), DecodedPixels(library_file, library_size)) << where;
            if (row.flags == PNG_Z_DEFAULT_COMPRESSION || row.flags == PNG_Z_BEST_COMPRESSION) {
                EXPECT_LE(own.size(), library_size * row.size_slack) << where;
            }
            if (!row.corpus) ExpectImageMagickReads(dir, own, frame.get(), row.bpp);
            ++frames;
        }
    }
    EXPECT_GT(frames, row.corpus ? 800 / row.frame_stride : 2);
}

INSTANTIATE_TEST_SUITE_P(Rows, PngWriterTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<WriterRow>& info) { return std::string(info.param.name); });

}  // namespace
