#include "formats/j2k_writer.h"

#include <openjpeg.h>

#include <cstdio>
#include <memory>

namespace kestrune {

namespace {

struct CodecDestroyer {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDestroyer {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDestroyer {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecOwner = std::unique_ptr<opj_codec_t, CodecDestroyer>;
using StreamOwner = std::unique_ptr<opj_stream_t, StreamDestroyer>;
using ImageOwner = std::unique_ptr<opj_image_t, ImageDestroyer>;

struct Layout {
    int components = 0;
    int precision = 0;
    OPJ_COLOR_SPACE colour_space = OPJ_CLRSPC_UNKNOWN;
};

Layout LayoutOf(FIBITMAP* image) {
    const unsigned bpp = FreeImage_GetBPP(image);
    switch (FreeImage_GetImageType(image)) {
        case FIT_BITMAP:
            if (bpp == 8 && FreeImage_GetColorType(image) == FIC_MINISBLACK) return {1, 8, OPJ_CLRSPC_GRAY};
            if (bpp == 24) return {3, 8, OPJ_CLRSPC_SRGB};
            if (bpp == 32) return {4, 8, OPJ_CLRSPC_SRGB};
            return {};
        case FIT_UINT16: return {1, 16, OPJ_CLRSPC_GRAY};
        case FIT_RGB16: return {3, 16, OPJ_CLRSPC_SRGB};
        case FIT_RGBA16: return {4, 16, OPJ_CLRSPC_SRGB};
        default: return {};
    }
}

// The frame as OpenJPEG's planes, top row first.
ImageOwner PlanesOf(FIBITMAP* image, const Layout& layout) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    opj_image_cmptparm_t parameters[4] = {};
    for (int c = 0; c < layout.components; ++c) {
        parameters[c].dx = 1;
        parameters[c].dy = 1;
        parameters[c].w = width;
        parameters[c].h = height;
        parameters[c].prec = static_cast<OPJ_UINT32>(layout.precision);
        parameters[c].sgnd = 0;
    }
    ImageOwner planes(opj_image_create(static_cast<OPJ_UINT32>(layout.components), parameters, layout.colour_space));
    if (!planes) return planes;
    planes->x0 = 0;
    planes->y0 = 0;
    planes->x1 = width;
    planes->y1 = height;
    // FreeImage's byte order within a pixel for 8-bit channels.
    static const int kByteOf[4] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE, FI_RGBA_ALPHA};
    size_t index = 0;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(height - 1 - y));
        for (unsigned x = 0; x < width; ++x, ++index) {
            for (int c = 0; c < layout.components; ++c) {
                OPJ_INT32 value = 0;
                if (layout.precision == 8) {
                    value = layout.components == 1 ? row[x] : row[x * layout.components + kByteOf[c]];
                } else {
                    value = reinterpret_cast<const WORD*>(row)[x * layout.components + c];
                }
                planes->comps[c].data[index] = value;
            }
        }
    }
    return planes;
}

// OpenJPEG's file stream does not check that its writes and its close
// succeed; on a full disk it would leave a cut file counted as written.
struct CheckedOutput {
    std::FILE* file = nullptr;
    bool failed = false;
};

OPJ_SIZE_T WriteOut(void* buffer, OPJ_SIZE_T size, void* user) {
    CheckedOutput* out = static_cast<CheckedOutput*>(user);
    if (std::fwrite(buffer, 1, size, out->file) != size) {
        out->failed = true;
        return static_cast<OPJ_SIZE_T>(-1);
    }
    return size;
}

OPJ_OFF_T SkipOut(OPJ_OFF_T count, void* user) {
    CheckedOutput* out = static_cast<CheckedOutput*>(user);
    return std::fseek(out->file, static_cast<long>(count), SEEK_CUR) == 0 ? count : -1;
}

OPJ_BOOL SeekOut(OPJ_OFF_T position, void* user) {
    CheckedOutput* out = static_cast<CheckedOutput*>(user);
    return std::fseek(out->file, static_cast<long>(position), SEEK_SET) == 0 ? OPJ_TRUE : OPJ_FALSE;
}

// FreeImage's 16:1 rate. Its writer never had frames with a side under 32
// pixels; for those the code stream's headers (which OpenJPEG counts in the
// budget) would take it all and leave a grey blur, so their budget gets room
// for the headers on top of a sixteenth of the pixel data, which makes the
// smallest frames lossless.
float RateFor(unsigned width, unsigned height, const Layout& layout) {
    if (width >= 32 && height >= 32) return 16;
    constexpr double kHeaderBytes = 512;
    const double raw = double(width) * height * layout.components * layout.precision / 8;
    const double ratio = raw / (raw / 16 + kHeaderBytes);
    return ratio > 1 ? static_cast<float>(ratio) : 0;
}

bool Encode(FIBITMAP* image, const Layout& layout, std::FILE* file, bool jp2_file) {
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_rates[0] = RateFor(width, height, layout);
    parameters.tcp_numlayers = 1;
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = JpegTwoThousandLevels(width, height);
    parameters.tcp_mct = layout.components == 3 ? 1 : 0;

    ImageOwner planes = PlanesOf(image, layout);
    if (!planes) return false;
    CodecOwner codec(opj_create_compress(jp2_file ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec || !opj_setup_encoder(codec.get(), &parameters, planes.get())) return false;
    StreamOwner stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
    if (!stream) return false;
    CheckedOutput out{file};
    opj_stream_set_user_data(stream.get(), &out, nullptr);
    opj_stream_set_write_function(stream.get(), WriteOut);
    opj_stream_set_skip_function(stream.get(), SkipOut);
    opj_stream_set_seek_function(stream.get(), SeekOut);
    const bool encoded = opj_start_compress(codec.get(), planes.get(), stream.get()) &&
                         opj_encode(codec.get(), stream.get()) && opj_end_compress(codec.get(), stream.get());
    return encoded && !out.failed;
}

}  // namespace

int JpegTwoThousandLevels(unsigned width, unsigned height) {
    const unsigned side = width < height ? width : height;
    int levels = 1;
    while (levels < 6 && (side >> levels) > 0) ++levels;
    return levels;
}

bool SaveJpegTwoThousand(FIBITMAP* image, const std::string& path, bool jp2_file) {
    if (!image) return false;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    if (width == 0 || height == 0) return false;
    const Layout layout = LayoutOf(image);
    if (layout.components == 0) return false;

    // The temporary file exists already; opening it without creating it means
    // a save still running when a close signal has removed it fails instead
    // of leaving it behind.
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    const bool encoded = Encode(image, layout, file, jp2_file);
    const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return encoded && flushed && closed;
}

}  // namespace kestrune
