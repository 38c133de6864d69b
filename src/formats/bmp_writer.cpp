#include "formats/bmp_writer.h"

#include <cstring>
#include <limits>
#include <new>

#include "formats/little_endian.h"
#include "platform/bitmap.h"

namespace kestrune {

// FreeImage's RLE8 writer leaves the pad byte after an absolute run of odd
// length unset, so the same frame gave different bytes from run to run (and
// between one file and several side by side). Readers skip the byte; it is
// cleared here. Returns whether any byte changed.
bool ClearRle8Padding(uint8_t* data, size_t size) {
    bool changed = false;
    size_t at = 0;
    while (at + 1 < size) {
        const uint8_t count = data[at];
        const uint8_t code = data[at + 1];
        at += 2;
        if (count != 0 || code == 0) continue;  // a run, or the end of a line
        if (code == 1) break;                    // the end of the bitmap
        if (code == 2) {                         // a move: two more bytes
            at += 2;
            continue;
        }
        at += code;  // an absolute run of `code` indices, padded to a word
        if (code % 2 == 1) {
            if (at < size && data[at] != 0) {
                data[at] = 0;
                changed = true;
            }
            ++at;
        }
    }
    return changed;
}

// An 8-bit BMP whose colour table stops at the highest index in use, so a
// frame of ten colours does not carry 246 unused entries. FreeImage encodes
// the pixels (and the run-length compression); only the headers and the
// table are rebuilt around them.
bool EncodeExactColourTableBmp(FIBITMAP* image, int32_t save_flags, std::vector<uint8_t>& out) {
    out.clear();
    if (!image || FreeImage_GetBPP(image) != 8) return false;
    RGBQUAD* palette = FreeImage_GetPalette(image);
    BITMAPINFOHEADER* info = FreeImage_GetInfoHeader(image);
    if (!palette || !info) return false;
    const bool rle = (save_flags & BMP_SAVE_RLE) != 0;

    MemoryStream stream(FreeImage_OpenMemory());
    if (!stream) return false;
    if (!FreeImage_SaveToMemory(FIF_BMP, image, stream.get(), save_flags)) return false;
    BYTE* memory = nullptr;
    DWORD memory_size = 0;
    if (!FreeImage_AcquireMemory(stream.get(), &memory, &memory_size) || !memory) return false;
    // The pixel data start where the in-memory file says (14 + 40 + 256 * 4
    // for FreeImage's 8-bit files); reading the offset keeps a differently
    // laid out file from being cut in the wrong place.
    if (memory_size < 54 || memory[0] != 'B' || memory[1] != 'M') return false;
    const uint32_t source_offset = GetLe32(memory + 10);
    if (source_offset < 54 || source_offset > memory_size) return false;
    const uint32_t pixel_bytes = memory_size - source_offset;

    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    unsigned highest = 0;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
        for (unsigned x = 0; x < width; ++x) {
            if (row[x] > highest) highest = row[x];
        }
    }
    const uint32_t used = highest + 1;
    const uint32_t offset = 54 + 4 * used;
    const uint64_t file_size = uint64_t(offset) + pixel_bytes;
    if (file_size > std::numeric_limits<uint32_t>::max()) return false;

    try {
        out.assign(static_cast<size_t>(file_size), 0);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    PutLe16(out, 0, 0x4D42);
    PutLe32(out, 2, static_cast<uint32_t>(file_size));
    PutLe32(out, 10, offset);

    PutLe32(out, 14, 40);
    PutLe32(out, 18, static_cast<uint32_t>(info->biWidth));
    PutLe32(out, 22, static_cast<uint32_t>(info->biHeight));
    PutLe16(out, 26, info->biPlanes);
    PutLe16(out, 28, info->biBitCount);
    PutLe32(out, 30, rle ? 1u : 0u);
    PutLe32(out, 34, pixel_bytes);
    PutLe32(out, 38, static_cast<uint32_t>(info->biXPelsPerMeter));
    PutLe32(out, 42, static_cast<uint32_t>(info->biYPelsPerMeter));
    PutLe32(out, 46, used);
    PutLe32(out, 50, used);

    for (uint32_t i = 0; i < used; ++i) {
        const size_t at = 54 + 4 * i;
        out[at] = palette[i].rgbBlue;
        out[at + 1] = palette[i].rgbGreen;
        out[at + 2] = palette[i].rgbRed;
        out[at + 3] = palette[i].rgbReserved;
    }
    std::memcpy(out.data() + offset, memory + source_offset, pixel_bytes);
    if (rle) ClearRle8Padding(out.data() + offset, pixel_bytes);
    return true;
}

}  // namespace kestrune
