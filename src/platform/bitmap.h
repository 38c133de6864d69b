// Owner of a FreeImage bitmap. Operations take a Bitmap by value and return
// the one to continue with, so "a new bitmap releases the one it replaced"
// holds on every path. An empty Bitmap travels through the operations
// unchanged until the save fails.
#pragma once

#include <FreeImage.h>

#include <memory>

namespace kestrune {

struct BitmapDeleter {
    void operator()(FIBITMAP* b) const {
        if (b) FreeImage_Unload(b);
    }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

struct MemoryDeleter {
    void operator()(FIMEMORY* m) const {
        if (m) FreeImage_CloseMemory(m);
    }
};
using MemoryStream = std::unique_ptr<FIMEMORY, MemoryDeleter>;

struct MultiBitmapDeleter {
    void operator()(FIMULTIBITMAP* m) const {
        if (m) FreeImage_CloseMultiBitmap(m, 0);
    }
};
using MultiBitmap = std::unique_ptr<FIMULTIBITMAP, MultiBitmapDeleter>;

// The largest bitmap the program makes, in pixels: 100 megapixels (for
// example 10000 x 10000), about 400 MB at 32 bits. GIF screens are composed
// whole, so a 44-byte file declaring 65535 x 65535 would otherwise ask for
// 17 GB; larger screens give no frames, decided from the header before
// anything is decoded, and resizes or rotations past it fail the frame.
inline constexpr long long kMaxScreenPixels = 100'000'000;

inline int WidthOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetWidth(b.get())) : 0; }
inline int HeightOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetHeight(b.get())) : 0; }
inline int BppOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetBPP(b.get())) : 0; }

}  // namespace kestrune
