#include "formats/jxr_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/bitmap.h"

// FreeImage.h defines _WINDOWS_, which makes jxrlib's GUID take an 8-byte
// first field on 64-bit Linux: every pixel format identifier would then be
// read wrongly by the library. jxrlib is therefore read without it. Its
// headers also define min and max as macros, which go at once.
#pragma push_macro("_WINDOWS_")
#undef _WINDOWS_
#include <JXRGlue.h>
#pragma pop_macro("_WINDOWS_")
#undef min
#undef max

static_assert(sizeof(GUID) == 16, "jxrlib's GUID must match the library's layout");

namespace kestrune {

namespace {

struct StreamCloser {
    void operator()(WMPStream* stream) const {
        if (stream) stream->Close(&stream);
    }
};
using StreamOwner = std::unique_ptr<WMPStream, StreamCloser>;

// The encoder closes the stream it was initialised with when it is
// released; one that never got a stream is only freed, since its release
// would close a stream that is not there.
struct EncoderReleaser {
    void operator()(PKImageEncode* encoder) const {
        if (!encoder) return;
        if (encoder->pStream)
            encoder->Release(&encoder);
        else
            PKFree(reinterpret_cast<void**>(&encoder));
    }
};
using EncoderOwner = std::unique_ptr<PKImageEncode, EncoderReleaser>;

// The frame in the layout handed to the encoder: rows top-down (FreeImage
// keeps them bottom-up) and packed, one after the other.
struct EncoderInput {
    const PKPixelFormatGUID* format = nullptr;
    COLORFORMAT internal = YUV_444;
    bool alpha = false;
    bool precise_floats = false;
    uint32_t stride = 0;
    std::vector<uint8_t> pixels;
};

bool IsGrey(const RGBQUAD& c) { return c.rgbRed == c.rgbGreen && c.rgbGreen == c.rgbBlue; }
bool IsBlack(const RGBQUAD& c) { return IsGrey(c) && c.rgbRed == 0; }
bool IsWhite(const RGBQUAD& c) { return IsGrey(c) && c.rgbRed == 255; }

unsigned PaletteIndex(const BYTE* row, unsigned x, unsigned bpp) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        default: return row[x];
    }
}

// Reserves rows of `stride` bytes; false when the size cannot be held.
bool Reserve(EncoderInput& in, uint64_t row_bytes, unsigned height) {
    if (row_bytes == 0 || row_bytes > std::numeric_limits<uint32_t>::max()) return false;
    const uint64_t total = row_bytes * height;
    if (total > std::numeric_limits<size_t>::max() / 2) return false;
    try {
        in.pixels.assign(static_cast<size_t>(total), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    in.stride = static_cast<uint32_t>(row_bytes);
    return true;
}

uint8_t* TopDownRow(EncoderInput& in, unsigned y) { return in.pixels.data() + size_t(y) * in.stride; }

const BYTE* SourceRow(FIBITMAP* image, unsigned height, unsigned y) {
    return FreeImage_GetScanLine(image, static_cast<int>(height - 1 - y));
}

// Palette frames. JPEG XR has no palettes: a frame of greys becomes 8-bit
// grey (its levels looked up, so an inverted or sparse grey palette still
// gives the right levels), anything else 24-bit colour. A frame of pure
// black and white stays one bit deep.
bool FromPalette(FIBITMAP* image, EncoderInput& in) {
    const unsigned bpp = FreeImage_GetBPP(image);
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    const RGBQUAD* palette = FreeImage_GetPalette(image);
    const unsigned colours = FreeImage_GetColorsUsed(image);
    if (!palette || colours == 0) return false;

    // An index beyond a short palette reads as black, as FreeImage's own
    // conversions treat it.
    auto entry = [&](unsigned index) {
        static const RGBQUAD black{0, 0, 0, 0};
        return index < colours ? palette[index] : black;
    };

    bool grey = true;
    for (unsigned i = 0; i < colours; ++i) grey = grey && IsGrey(palette[i]);

    if (bpp == 1 && colours == 2 &&
        ((IsBlack(palette[0]) && IsWhite(palette[1])) || (IsWhite(palette[0]) && IsBlack(palette[1])))) {
        // The encoder's default reading of a bit is "set is white"; a
        // palette the other way round has its bits inverted.
        const bool invert = IsWhite(palette[0]);
        if (!Reserve(in, (uint64_t(width) + 7) / 8, height)) return false;
        in.format = &GUID_PKPixelFormatBlackWhite;
        in.internal = Y_ONLY;
        const unsigned row_bytes = (width + 7) / 8;
        for (unsigned y = 0; y < height; ++y) {
            const BYTE* src = SourceRow(image, height, y);
            uint8_t* dst = TopDownRow(in, y);
            for (unsigned i = 0; i < row_bytes; ++i) dst[i] = invert ? uint8_t(~src[i]) : src[i];
        }
        return true;
    }

    if (grey) {
        if (!Reserve(in, width, height)) return false;
        in.format = &GUID_PKPixelFormat8bppGray;
        in.internal = Y_ONLY;
        for (unsigned y = 0; y < height; ++y) {
            const BYTE* src = SourceRow(image, height, y);
            uint8_t* dst = TopDownRow(in, y);
            for (unsigned x = 0; x < width; ++x) dst[x] = entry(PaletteIndex(src, x, bpp)).rgbRed;
        }
        return true;
    }

    if (!Reserve(in, uint64_t(width) * 3, height)) return false;
    in.format = &GUID_PKPixelFormat24bppBGR;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* src = SourceRow(image, height, y);
        uint8_t* dst = TopDownRow(in, y);
        for (unsigned x = 0; x < width; ++x) {
            const RGBQUAD c = entry(PaletteIndex(src, x, bpp));
            dst[3 * x] = c.rgbBlue;
            dst[3 * x + 1] = c.rgbGreen;
            dst[3 * x + 2] = c.rgbRed;
        }
    }
    return true;
}

// 24- and 32-bit frames, written byte by byte through FreeImage's channel
// positions so that the BGR order the encoder is told about holds on any
// byte order.
bool FromTrueColour(FIBITMAP* image, EncoderInput& in) {
    const unsigned bpp = FreeImage_GetBPP(image);
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    const unsigned channels = bpp / 8;
    if (!Reserve(in, uint64_t(width) * channels, height)) return false;
    in.format = channels == 4 ? &GUID_PKPixelFormat32bppBGRA : &GUID_PKPixelFormat24bppBGR;
    in.alpha = channels == 4;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* src = SourceRow(image, height, y);
        uint8_t* dst = TopDownRow(in, y);
        for (unsigned x = 0; x < width; ++x) {
            const BYTE* p = src + size_t(x) * channels;
            uint8_t* q = dst + size_t(x) * channels;
            q[0] = p[FI_RGBA_BLUE];
            q[1] = p[FI_RGBA_GREEN];
            q[2] = p[FI_RGBA_RED];
            if (channels == 4) q[3] = p[FI_RGBA_ALPHA];
        }
    }
    return true;
}

bool FromRgb16(FIBITMAP* image, EncoderInput& in) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    if (!Reserve(in, uint64_t(width) * 6, height)) return false;
    in.format = &GUID_PKPixelFormat48bppRGB;
    for (unsigned y = 0; y < height; ++y) {
        const FIRGB16* src = reinterpret_cast<const FIRGB16*>(SourceRow(image, height, y));
        uint16_t* dst = reinterpret_cast<uint16_t*>(TopDownRow(in, y));
        for (unsigned x = 0; x < width; ++x) {
            dst[3 * x] = src[x].red;
            dst[3 * x + 1] = src[x].green;
            dst[3 * x + 2] = src[x].blue;
        }
    }
    return true;
}

// Float samples are coded as integers built from the exponent and the top
// mantissa bits. jxrlib takes at most 22 of the 23 mantissa bits (asking for
// 23 shifts by a negative count inside the library), so floats are the one
// layout not kept bit for bit: the error stays within one part in 2^22,
// far below what separates two 8-bit levels. With 22 bits the integers grow
// large enough for huge samples to overflow the coder, which then aborts the
// process; frames with samples beyond [-1, 1] (or not finite) therefore get
// the library's default of 13 bits, which holds for any value. Frames
// widened from 8-bit colour always lie within [0, 1].
constexpr U8 kFloatMantissaBits = 22;

bool FromRgbFloat(FIBITMAP* image, EncoderInput& in) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    if (!Reserve(in, uint64_t(width) * 12, height)) return false;
    in.format = &GUID_PKPixelFormat96bppRGBFloat;
    bool within_unit = true;
    for (unsigned y = 0; y < height; ++y) {
        const FIRGBF* src = reinterpret_cast<const FIRGBF*>(SourceRow(image, height, y));
        float* dst = reinterpret_cast<float*>(TopDownRow(in, y));
        for (unsigned x = 0; x < width; ++x) {
            dst[3 * x] = src[x].red;
            dst[3 * x + 1] = src[x].green;
            dst[3 * x + 2] = src[x].blue;
            for (int c = 0; c < 3; ++c)  // false for NaN as well
                within_unit = within_unit && std::fabs(dst[3 * x + c]) <= 1.0f;
        }
    }
    in.precise_floats = within_unit;
    return true;
}

bool PrepareInput(FIBITMAP* image, EncoderInput& in) {
    switch (FreeImage_GetImageType(image)) {
        case FIT_BITMAP:
            break;
        case FIT_RGB16:
            return FromRgb16(image, in);
        case FIT_RGBF:
            return FromRgbFloat(image, in);
        default:
            return false;
    }
    switch (FreeImage_GetBPP(image)) {
        case 1:
        case 4:
        case 8:
            return FromPalette(image, in);
        case 16: {
            // 5-5-5 and 5-6-5 are widened by FreeImage, which reads the
            // frame's own masks, so both layouts come out alike.
            Bitmap wide(FreeImage_ConvertTo24Bits(image));
            return wide && FromTrueColour(wide.get(), in);
        }
        case 24:
        case 32:
            return FromTrueColour(image, in);
        default:
            return false;
    }
}

// Lossless settings: quantiser index 1 for every plane (the alpha plane's
// settings are a copy of these), full 4:4:4 colour, all subbands, no overlap
// filter (it only serves lossy coding).
CWMIStrCodecParam LosslessParameters(const EncoderInput& in) {
    CWMIStrCodecParam p;
    std::memset(&p, 0, sizeof p);
    p.cfColorFormat = in.internal;
    p.bdBitDepth = BD_LONG;
    p.bfBitstreamFormat = FREQUENCY;
    p.bProgressiveMode = TRUE;
    p.olOverlap = OL_NONE;
    p.sbSubband = SB_ALL;
    p.uAlphaMode = in.alpha ? 2 : 0;  // the alpha channel as a plane of its own
    p.uiDefaultQPIndex = 1;
    p.uiDefaultQPIndexAlpha = 1;
    if (in.precise_floats) p.nLenMantissaOrShift = kFloatMantissaBits;
    return p;
}

float DotsPerInch(unsigned dots_per_metre) {
    return dots_per_metre ? static_cast<float>(dots_per_metre * 0.0254) : 96.0f;
}

}  // namespace

bool SaveJpegXr(FIBITMAP* image, const std::string& path, const char* file_mode) {
    if (!image) return false;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    if (width == 0 || height == 0 || width > unsigned(std::numeric_limits<I32>::max()) ||
        height > unsigned(std::numeric_limits<I32>::max()))
        return false;

    EncoderInput in;
    if (!PrepareInput(image, in)) return false;

    WMPStream* raw_stream = nullptr;
    if (CreateWS_File(&raw_stream, path.c_str(), file_mode) != WMP_errSuccess) {
        // The library allocates the stream record before opening the file
        // and does not free it when the open fails.
        std::free(raw_stream);
        return false;
    }
    StreamOwner stream(raw_stream);

    PKImageEncode* raw_encoder = nullptr;
    if (PKImageEncode_Create_WMP(&raw_encoder) != WMP_errSuccess) return false;
    EncoderOwner encoder(raw_encoder);

    CWMIStrCodecParam parameters = LosslessParameters(in);
    if (encoder->Initialize(encoder.get(), stream.get(), &parameters, sizeof parameters) !=
        WMP_errSuccess)
        return false;
    // From here the encoder closes the stream when it is released.
    FILE* file = stream->state.file.pFile;
    stream.release();

    if (encoder->SetPixelFormat(encoder.get(), *in.format) != WMP_errSuccess) return false;
    if (encoder->SetSize(encoder.get(), static_cast<I32>(width), static_cast<I32>(height)) !=
        WMP_errSuccess)
        return false;
    if (encoder->SetResolution(encoder.get(), DotsPerInch(FreeImage_GetDotsPerMeterX(image)),
                               DotsPerInch(FreeImage_GetDotsPerMeterY(image))) != WMP_errSuccess)
        return false;
    if (encoder->WritePixels(encoder.get(), height, in.pixels.data(), in.stride) != WMP_errSuccess)
        return false;
    // The stream's close does not report a failed final write; flushing
    // first does, so a full disk is a failed save rather than a short file.
    return std::fflush(file) == 0 && !std::ferror(file);
}

}  // namespace kestrune
