// Shared pieces of the format tests: library start-up, a run state for one
// output format, generated frames and a pixel reader for every image type the
// writers produce.
#pragma once

#include <FreeImage.h>
#include <IL/il.h>
#include <IL/ilu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>

#include "formats/registry.h"
#include "support/gif_writer.h"
#include "formats/saving.h"
#include "support/harness.h"
#include "platform/bitmap.h"
#include "settings/settings.h"

namespace formats_test {

using kestrune::FrameContext;
using kestrune::Bitmap;
using kestrune::Settings;
using testing_support::Rgba;

inline void InitLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        ilInit();
        iluInit();
    });
}

inline Settings CommandLineSettings() {
    Settings s;
    kestrune::SetDefaultSettings(s, true);
    return s;
}

// The context the worker would give a frame of source_bpp bits saved in
// this output format.
inline FrameContext StateFor(const std::string& ext, const Settings& s, int source_bpp = 32) {
    FrameContext context(s);
    context.format = kestrune::OutputFrameFormat(ext, s);
    if (context.format.bpp == 0) context.format.bpp = kestrune::NearestAllowedBitDepth(ext, source_bpp);
    return context;
}

// A 32-bit bitmap painted by colour(x, y), y counted from the top.
inline Bitmap MakeBitmap32(int w, int h, const std::function<Rgba(int, int)>& colour) {
    Bitmap b(FreeImage_Allocate(w, h, 32, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
    for (int y = 0; y < h; ++y) {
        BYTE* row = FreeImage_GetScanLine(b.get(), h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const Rgba c = colour(x, y);
            row[4 * x + FI_RGBA_RED] = c.r;
            row[4 * x + FI_RGBA_GREEN] = c.g;
            row[4 * x + FI_RGBA_BLUE] = c.b;
            row[4 * x + FI_RGBA_ALPHA] = c.a;
        }
    }
    return b;
}

inline uint8_t FromUnit(float v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

// Pixel (x, y) from the top of any image a writer produced: ordinary
// bitmaps through the harness, 16-bit and float channels scaled to 8 bits.
inline Rgba ReadPixel(FIBITMAP* image, int x, int y) {
    const int h = static_cast<int>(FreeImage_GetHeight(image));
    BYTE* line = FreeImage_GetScanLine(image, h - 1 - y);
    switch (FreeImage_GetImageType(image)) {
        case FIT_RGB16: {
            const FIRGB16& p = reinterpret_cast<FIRGB16*>(line)[x];
            return {uint8_t(p.red >> 8), uint8_t(p.green >> 8), uint8_t(p.blue >> 8), 255};
        }
        case FIT_RGBA16: {
            const FIRGBA16& p = reinterpret_cast<FIRGBA16*>(line)[x];
            return {uint8_t(p.red >> 8), uint8_t(p.green >> 8), uint8_t(p.blue >> 8),
                    uint8_t(p.alpha >> 8)};
        }
        case FIT_RGBF: {
            const FIRGBF& p = reinterpret_cast<FIRGBF*>(line)[x];
            return {FromUnit(p.red), FromUnit(p.green), FromUnit(p.blue), 255};
        }
        case FIT_RGBAF: {
            const FIRGBAF& p = reinterpret_cast<FIRGBAF*>(line)[x];
            return {FromUnit(p.red), FromUnit(p.green), FromUnit(p.blue), FromUnit(p.alpha)};
        }
        default:
            return testing_support::PixelAt(image, x, y);
    }
}

// Rec. 709 weights, as FreeImage's greyscale conversions use.
inline int Luma(const Rgba& c) { return static_cast<int>(std::lround(0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b)); }

inline std::string Show(const Rgba& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," +
           std::to_string(c.a) + ")";
}

inline int MaxChannelDifference(const Rgba& a, const Rgba& b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// Output of a shell command, "" when it cannot run.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        pclose(p);
    }
    return out;
}

inline bool HaveImageMagick() { return !CommandOutput("command -v identify").empty(); }

// Width and height of the first image as ImageMagick reads it, "" on failure.
inline std::string IdentifySize(const std::string& path) {
    return CommandOutput("identify -format '%w %h' '" + path + "[0]' 2>/dev/null");
}

inline bool HaveJxrDecoder() { return !CommandOutput("command -v JxrDecApp").empty(); }

// A JPEG XR file decoded by jxrlib's own decoder (FreeImage cannot read the
// format) into a TIFF beside it, then loaded with FreeImage. `layout` is the
// decoder's -c number; without it the file's own pixel format is kept.
inline testing_support::TestBitmap DecodeJpegXr(const std::string& jxr, int layout = -1) {
    const std::string tif = jxr + ".decoded.tif";
    std::string command = "JxrDecApp -i '" + jxr + "' -o '" + tif + "'";
    if (layout >= 0) command += " -c " + std::to_string(layout);
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return nullptr;
    testing_support::TestBitmap image = testing_support::LoadImageFile(tif);
    std::remove(tif.c_str());
    return image;
}

// Loads an output back with FreeImage; WBMP has no signature to detect it by.
inline testing_support::TestBitmap LoadOutput(const std::string& path, const std::string& ext) {
    if (ext == "wbmp") return testing_support::TestBitmap(FreeImage_Load(FIF_WBMP, path.c_str(), 0));
    if (ext == "jxr") return DecodeJpegXr(path);
    return testing_support::LoadImageFile(path);
}

// Three 40x40 frames: a red F on blue, a white F on black, then a yellow
// 12x12 patch at (24, 24) over the second frame. Composition shows in the
// third frame, which must still contain the second frame's pixels. Square,
// because FreeImage writes only square icons, and at least 32 pixels, the
// smallest the JPEG-2000 encoder's default resolution levels allow.
inline testing_support::GifImage ThreeFrames() {
    testing_support::GifImage gif = testing_support::LetterF(40, 40);
    gif.global_palette = {{0, 0, 255}, {255, 0, 0}, {0, 0, 0}, {255, 255, 255}, {255, 255, 0}};
    testing_support::GifFrame second = gif.frames[0];
    for (uint8_t& i : second.indices) i = i == 1 ? 3 : 2;
    second.disposal = 1;
    gif.frames.push_back(second);
    testing_support::GifFrame patch = testing_support::SolidFrame(12, 12, 4);
    patch.left = 24;
    patch.top = 24;
    gif.frames.push_back(patch);
    return gif;
}

// The composed colour of frame `frame` at (x, y) for GIFs whose frames are
// kept (no disposal to background or previous), without transparency.
inline Rgba ComposedPixel(const testing_support::GifImage& gif, int frame, int x, int y) {
    Rgba c{0, 0, 0, 255};
    for (int k = 0; k <= frame; ++k) {
        const testing_support::GifFrame& f = gif.frames[k];
        if (x < f.left || y < f.top || x >= f.left + f.width || y >= f.top + f.height) continue;
        const uint8_t index = f.indices[static_cast<size_t>(y - f.top) * f.width + (x - f.left)];
        const testing_support::GifColour& p =
            f.local_palette.empty() ? gif.global_palette[index] : f.local_palette[index];
        c = {p.r, p.g, p.b, 255};
    }
    return c;
}

}  // namespace formats_test
