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

inline int WidthOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetWidth(b.get())) : 0; }
inline int HeightOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetHeight(b.get())) : 0; }
inline int BppOf(const Bitmap& b) { return b ? static_cast<int>(FreeImage_GetBPP(b.get())) : 0; }

}  // namespace kestrune
