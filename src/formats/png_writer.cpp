#include "formats/png_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace kestrune {

namespace {

// One compressor per saving thread, made on the thread's first PNG and
// freed when the thread ends; libdeflate's compressors are not shared.
class ThreadCompressor {
  public:
    ~ThreadCompressor() { libdeflate_free_compressor(compressor_); }
    libdeflate_compressor* At(int level) {
        if (compressor_ && level_ == level) return compressor_;
        libdeflate_free_compressor(compressor_);
        compressor_ = libdeflate_alloc_compressor(level);
        level_ = level;
        return compressor_;
    }

  private:
    libdeflate_compressor* compressor_ = nullptr;
    int level_ = -1;
};

thread_local ThreadCompressor t_compressor;

// The fastest levels whose files were never larger than FreeImage's, file
// by file, on the benchmark's stills and animations (bench/png_levels.cpp
// measures each level); the corpus frames at 32 bits were checked at these.
constexpr int kLevelForZlib1 = 2;
constexpr int kLevelForZlib6 = 7;
constexpr int kLevelForZlib9 = 10;

// zlib compresses the rows too, with the parameters libpng gives it for
// FreeImage, and the smaller stream is kept, for small frames (below
// kZlibTrialLimit filtered bytes) and flat ones (libdeflate's stream below
// 1/kZlibTrialRatio of them): on such frames zlib's lazy matching is
// sometimes shorter than libdeflate at any level, by up to a quarter on
// large flat areas, and there it costs little.
constexpr size_t kZlibTrialLimit = 64 * 1024;
constexpr size_t kZlibTrialRatio = 8;

// A zlib stream as libpng writes it for FreeImage: the filtered strategy,
// a 32 KiB window, memory level 8. Empty on failure.
std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& filtered, int level) {
    std::vector<uint8_t> out(compressBound(static_cast<uLong>(filtered.size())));
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_FILTERED) != Z_OK) return {};
    z.next_in = const_cast<Bytef*>(filtered.data());
    z.avail_in = static_cast<uInt>(filtered.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
    deflateEnd(&z);
    return done ? out : std::vector<uint8_t>();
}

// Summed in blocks whose total fits 32 bits, which keeps the loops in
// narrow vector lanes.
constexpr size_t kSumBlock = size_t(1) << 24;

// libpng weighs a filtered row by the sum of its bytes taken as signed
// magnitudes: v below 128 counts v, above it 256 - v, which is min(v, -v)
// in eight bits.
inline uint32_t Magnitude(uint8_t v) { return std::min<uint8_t>(v, static_cast<uint8_t>(-v)); }

uint64_t RowWeight(const uint8_t* __restrict row, size_t n) {
    uint64_t total = 0;
    for (size_t start = 0; start < n; start += kSumBlock) {
        const size_t end = std::min(n, start + kSumBlock);
        uint32_t sum = 0;
        for (size_t i = start; i < end; ++i) sum += Magnitude(row[i]);
        total += sum;
    }
    return total;
}

// The sub filter into `out`; returns the row's weight.
uint64_t SubRow(const uint8_t* __restrict row, size_t n, size_t bpp, uint8_t* __restrict out) {
    for (size_t i = 0; i < bpp; ++i) out[i] = row[i];
    for (size_t i = bpp; i < n; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    return RowWeight(out, n);
}

// The paeth filter into `out`; `above` is the previous row unfiltered
// (zeros above the first). Returns the row's weight.
uint64_t PaethRow(const uint8_t* __restrict row, const uint8_t* __restrict above, size_t n, size_t bpp,
                  uint8_t* __restrict out) {
    for (size_t i = 0; i < bpp; ++i) out[i] = static_cast<uint8_t>(row[i] - above[i]);
    for (size_t i = bpp; i < n; ++i) {
        const int16_t a = row[i - bpp], b = above[i], c = above[i - bpp];
        const int16_t p = static_cast<int16_t>(b - c), q = static_cast<int16_t>(a - c);
        const int16_t pa = static_cast<int16_t>(p < 0 ? -p : p);
        const int16_t pb = static_cast<int16_t>(q < 0 ? -q : q);
        const int16_t pq = static_cast<int16_t>(p + q);
        const int16_t pc = static_cast<int16_t>(pq < 0 ? -pq : pq);
        const int16_t predicted = (pa <= pb) & (pa <= pc) ? a : (pb <= pc ? b : c);
        out[i] = static_cast<uint8_t>(row[i] - predicted);
    }
    return RowWeight(out, n);
}

// One FreeImage scan line (BGR or BGRA) as PNG samples (RGB or RGBA);
// `channels` is what the file stores, `source_step` the bytes per pixel held.
void ToPngSamples(const uint8_t* __restrict line, unsigned width, unsigned source_step, unsigned channels,
                  uint8_t* __restrict out) {
    for (unsigned x = 0; x < width; ++x) {
        const uint8_t* s = line + size_t(x) * source_step;
        uint8_t* d = out + size_t(x) * channels;
        d[0] = s[FI_RGBA_RED];
        d[1] = s[FI_RGBA_GREEN];
        d[2] = s[FI_RGBA_BLUE];
        if (channels == 4) d[3] = s[FI_RGBA_ALPHA];
    }
}

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// A chunk whose data already sit at out[at + 8, at + 8 + length): its
// length, type and CRC around them.
void FrameChunk(std::vector<uint8_t>& out, size_t at, const char (&type)[5], uint32_t length) {
    PutBe32(out.data() + at, length);
    std::memcpy(out.data() + at + 4, type, 4);
    const uint32_t crc = libdeflate_crc32(0, out.data() + at + 4, size_t(length) + 4);
    PutBe32(out.data() + at + 8 + length, crc);
}

size_t AppendChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data, uint32_t length) {
    const size_t at = out.size();
    out.resize(at + 12 + length);
    if (length) std::memcpy(out.data() + at + 8, data, length);
    FrameChunk(out, at, type, length);
    return at;
}

// FreeImage's test for a 32-bit frame (an alpha below 255 anywhere makes it
// RGBA, else it is written as RGB), without its calls per pixel.
bool HasTranslucentPixel(FIBITMAP* image) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    for (unsigned y = 0; y < height; ++y) {
        const uint8_t* line = FreeImage_GetScanLine(image, static_cast<int>(y));
        uint8_t all = 0xFF;
        for (unsigned x = 0; x < width; ++x) all &= line[4 * size_t(x) + FI_RGBA_ALPHA];
        if (all != 0xFF) return true;
    }
    return false;
}

// Every row filtered as libpng does for FreeImage (or left unfiltered for
// a stored file), each behind its filter type byte.
void FilterRows(FIBITMAP* image, unsigned channels, bool choose_filters, std::vector<uint8_t>& filtered) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    const unsigned source_step = FreeImage_GetBPP(image) / 8;
    const size_t n = size_t(width) * channels;
    const size_t bpp = channels;
    filtered.resize((n + 1) * height);
    std::vector<uint8_t> rows(4 * n, 0);
    uint8_t* row = rows.data();
    uint8_t* above = row + n;  // zeros above the first row, as libpng has it
    uint8_t* sub = above + n;
    uint8_t* paeth = sub + n;
    for (unsigned y = 0; y < height; ++y) {
        uint8_t* dst = filtered.data() + (n + 1) * y;
        // FreeImage holds the bottom row first.
        const uint8_t* line = FreeImage_GetScanLine(image, static_cast<int>(height - 1 - y));
        if (!choose_filters) {
            dst[0] = 0;
            ToPngSamples(line, width, source_step, channels, dst + 1);
            continue;
        }
        ToPngSamples(line, width, source_step, channels, row);
        // libpng's order and ties: none, then sub, then paeth, each taken
        // only when strictly lighter than the best before it.
        uint8_t type = 0;
        const uint8_t* best = row;
        uint64_t least = RowWeight(row, n);
        const uint64_t sub_weight = SubRow(row, n, bpp, sub);
        if (sub_weight < least) {
            least = sub_weight;
            type = 1;
            best = sub;
        }
        if (PaethRow(row, above, n, bpp, paeth) < least) {
            type = 4;
            best = paeth;
        }
        dst[0] = type;
        std::memcpy(dst + 1, best, n);
        std::swap(row, above);
    }
}

}  // namespace

bool PngWriterTakes(FIBITMAP* image) {
    if (!image || FreeImage_GetImageType(image) != FIT_BITMAP || !FreeImage_HasPixels(image)) return false;
    const unsigned bpp = FreeImage_GetBPP(image);
    if (bpp != 24 && bpp != 32) return false;
    if (FreeImage_GetWidth(image) == 0 || FreeImage_GetHeight(image) == 0) return false;
    const FIICCPROFILE* icc = FreeImage_GetICCProfile(image);
    if (icc && (icc->size != 0 || (icc->flags & FIICC_COLOR_IS_CMYK))) return false;
    // Comments and XMP become text chunks, the Exif date a tIME chunk.
    for (FREE_IMAGE_MDMODEL model : {FIMD_COMMENTS, FIMD_XMP, FIMD_EXIF_MAIN})
        if (FreeImage_GetMetadataCount(model, image) != 0) return false;
    if (FreeImage_HasBackgroundColor(image)) return false;
    // The count first: on a 32-bit frame IsTransparent scans every pixel.
    return !(FreeImage_GetTransparencyCount(image) > 0 && FreeImage_IsTransparent(image));
}

PngCompression PngCompressionFor(int32_t save_flags) {
    switch (save_flags & 0x0F) {
        case PNG_Z_BEST_SPEED: return {kLevelForZlib1, 1};
        case PNG_Z_DEFAULT_COMPRESSION: return {kLevelForZlib6, 6};
        case PNG_Z_BEST_COMPRESSION: return {kLevelForZlib9, 9};
        default: return {};
    }
}

bool EncodePng(FIBITMAP* image, PngCompression compression, std::vector<uint8_t>& out) {
    const int deflate_level = compression.deflate_level;
    out.clear();
    if (!PngWriterTakes(image)) return false;
    try {
        const bool alpha = FreeImage_GetBPP(image) == 32 && HasTranslucentPixel(image);
        const unsigned channels = alpha ? 4 : 3;
        std::vector<uint8_t> filtered;
        FilterRows(image, channels, deflate_level > 0, filtered);

        libdeflate_compressor* compressor = t_compressor.At(deflate_level);
        if (!compressor) return false;
        const size_t bound = libdeflate_zlib_compress_bound(compressor, filtered.size());

        static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        out.reserve(8 + 25 + 21 + 12 + bound + 12);
        out.assign(kSignature, kSignature + 8);
        uint8_t header[13] = {};
        PutBe32(header, FreeImage_GetWidth(image));
        PutBe32(header + 4, FreeImage_GetHeight(image));
        header[8] = 8;                  // bits per sample
        header[9] = alpha ? 6 : 2;      // RGBA or RGB; compression, filter and interlace methods 0
        AppendChunk(out, "IHDR", header, sizeof header);
        const unsigned x_ppm = FreeImage_GetDotsPerMeterX(image), y_ppm = FreeImage_GetDotsPerMeterY(image);
        if (x_ppm > 0 && y_ppm > 0) {
            uint8_t phys[9];
            PutBe32(phys, x_ppm);
            PutBe32(phys + 4, y_ppm);
            phys[8] = 1;  // per metre
            AppendChunk(out, "pHYs", phys, sizeof phys);
        }
        const size_t idat = out.size();
        out.resize(idat + 8 + bound);
        size_t length =
            libdeflate_zlib_compress(compressor, filtered.data(), filtered.size(), out.data() + idat + 8, bound);
        if (compression.zlib_level > 0 &&
            (filtered.size() <= kZlibTrialLimit || length == 0 || length * kZlibTrialRatio < filtered.size())) {
            const std::vector<uint8_t> z = ZlibStream(filtered, compression.zlib_level);
            if (!z.empty() && (length == 0 || z.size() < length) && z.size() <= bound) {
                std::memcpy(out.data() + idat + 8, z.data(), z.size());
                length = z.size();
            }
        }
        if (length == 0 || length > size_t(std::numeric_limits<int32_t>::max())) {
            out.clear();
            return false;
        }
        out.resize(idat + 12 + length);
        FrameChunk(out, idat, "IDAT", static_cast<uint32_t>(length));
        AppendChunk(out, "IEND", nullptr, 0);
        return true;
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
}

}  // namespace kestrune
