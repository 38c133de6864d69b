// Bitmaps made in memory for the geometry and tone tests: painted pixel by
// pixel with y counted from the top, so expectations read like the picture.
#pragma once

#include <FreeImage.h>

#include <functional>
#include <string>

#include "support/gif_writer.h"
#include "support/harness.h"
#include "platform/bitmap.h"
#include "settings/settings.h"

namespace imaging_test {

using testing_support::Rgba;

inline kestrune::Bitmap Painted(int w, int h, int bpp, const std::function<Rgba(int, int)>& paint) {
    kestrune::Bitmap b(FreeImage_Allocate(w, h, bpp));
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(b.get(), h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const Rgba c = paint(x, y);
            BYTE* p = line + x * (bpp / 8);
            p[FI_RGBA_RED] = c.r;
            p[FI_RGBA_GREEN] = c.g;
            p[FI_RGBA_BLUE] = c.b;
            if (bpp == 32) p[FI_RGBA_ALPHA] = c.a;
        }
    }
    return b;
}

inline kestrune::Bitmap Solid(int w, int h, int bpp, Rgba c) {
    return Painted(w, h, bpp, [c](int, int) { return c; });
}

// Red, green, blue and white quarters: any mirror or turn moves a colour.
inline Rgba Quadrant(int x, int y, int w, int h) {
    const bool right = x >= w / 2, bottom = y >= h / 2;
    if (!right && !bottom) return {255, 0, 0, 255};
    if (right && !bottom) return {0, 255, 0, 255};
    if (!right && bottom) return {0, 0, 255, 255};
    return {255, 255, 255, 255};
}

// The asymmetric "F" decoded from a generated GIF. A full 256-entry palette
// makes the library load it as an 8-bit palette bitmap (two colours would
// give 1 bit).
inline kestrune::Bitmap LetterFBitmap(int w, int h) {
    testing_support::TempDir dir;
    const std::string path = dir / "f.gif";
    testing_support::GifImage gif = testing_support::LetterF(w, h);
    while (gif.global_palette.size() < 256) gif.global_palette.push_back({128, 128, 128});
    testing_support::WriteGif(path, gif);
    return kestrune::Bitmap(FreeImage_Load(FIF_GIF, path.c_str(), 0));
}

inline kestrune::Bitmap Copy(const kestrune::Bitmap& b) {
    return kestrune::Bitmap(FreeImage_Clone(b.get()));
}

inline kestrune::Settings CommandLineDefaults() {
    kestrune::Settings s;
    kestrune::SetDefaultSettings(s, true);
    return s;
}

}  // namespace imaging_test
