#include "formats/ico_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "formats/little_endian.h"
#include "platform/bitmap.h"

namespace kestrune {

bool EncodeIcon(FIBITMAP* image, int32_t, std::vector<uint8_t>& out) {
    out.clear();
    if (!image || FreeImage_GetImageType(image) != FIT_BITMAP) return false;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    if (width < 1 || width > 256 || height < 1 || height > 256) return false;
    Bitmap converted;
    FIBITMAP* source = image;
    unsigned bpp = FreeImage_GetBPP(source);
    if (bpp == 16 && FreeImage_GetGreenMask(source) != FI16_555_GREEN_MASK) {
        converted.reset(FreeImage_ConvertTo16Bits555(source));
        source = converted.get();
    } else if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        converted.reset(FreeImage_ConvertTo32Bits(source));
        source = converted.get();
        bpp = 32;
    }
    if (!source) return false;

    const uint32_t colours = bpp <= 8 ? (1u << bpp) : 0;
    const uint32_t pixel_pitch = ((width * bpp + 31) / 32) * 4;
    const uint32_t mask_pitch = ((width + 31) / 32) * 4;
    const uint32_t entry_size = 40 + 4 * colours + (pixel_pitch + mask_pitch) * height;
    try {
        out.assign(6 + 16 + entry_size, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    PutLe16(out, 2, 1);  // icon
    PutLe16(out, 4, 1);  // one image
    out[6] = static_cast<uint8_t>(width & 0xFF);  // 256 is stored as 0
    out[7] = static_cast<uint8_t>(height & 0xFF);
    out[8] = static_cast<uint8_t>(colours & 0xFF);
    PutLe16(out, 10, 1);
    PutLe16(out, 12, bpp);
    PutLe32(out, 14, entry_size);
    PutLe32(out, 18, 22);

    size_t at = 22;
    PutLe32(out, at, 40);
    PutLe32(out, at + 4, width);
    PutLe32(out, at + 8, height * 2);  // image and mask
    PutLe16(out, at + 12, 1);
    PutLe16(out, at + 14, bpp);
    PutLe32(out, at + 20, (pixel_pitch + mask_pitch) * height);
    at += 40;
    if (colours) {
        const RGBQUAD* palette = FreeImage_GetPalette(source);
        const unsigned have = FreeImage_GetColorsUsed(source);
        if (!palette) return false;
        for (uint32_t i = 0; i < colours && i < have; ++i) {
            out[at + 4 * i] = palette[i].rgbBlue;
            out[at + 4 * i + 1] = palette[i].rgbGreen;
            out[at + 4 * i + 2] = palette[i].rgbRed;
        }
        at += 4 * colours;
    }
    // FreeImage keeps rows bottom-up with the byte order of a BMP, as icons do.
    const unsigned line = FreeImage_GetLine(source);
    for (unsigned y = 0; y < height; ++y) {
        std::memcpy(out.data() + at + size_t(y) * pixel_pitch, FreeImage_GetScanLine(source, static_cast<int>(y)),
                    std::min<unsigned>(line, pixel_pitch));
    }
    at += size_t(pixel_pitch) * height;
    if (bpp == 32) {
        for (unsigned y = 0; y < height; ++y) {
            const BYTE* row = FreeImage_GetScanLine(source, static_cast<int>(y));
            uint8_t* mask = out.data() + at + size_t(y) * mask_pitch;
            for (unsigned x = 0; x < width; ++x) {
                if (row[4 * x + FI_RGBA_ALPHA] == 0) mask[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
        }
    }
    return true;
}

}  // namespace kestrune
