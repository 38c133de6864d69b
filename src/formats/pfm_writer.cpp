#include "formats/pfm_writer.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace kestrune {

// FreeImage keeps its rows bottom-up too, so they are copied in the order it
// holds them. The negative scale marks little-endian floats.
bool EncodePfm(FIBITMAP* image, int32_t, std::vector<uint8_t>& out) {
    out.clear();
    if (!image) return false;
    const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);
    if (type != FIT_RGBF && type != FIT_FLOAT) return false;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    const unsigned channels = type == FIT_RGBF ? 3 : 1;
    static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);
    const std::string header = std::string(channels == 3 ? "PF" : "Pf") + "\n" + std::to_string(width) + " " +
                               std::to_string(height) + "\n-1.0\n";
    const size_t row_bytes = size_t(width) * channels * sizeof(float);
    try {
        out.resize(header.size() + row_bytes * height);
    } catch (const std::bad_alloc&) {
        out.clear();
        return false;
    }
    std::memcpy(out.data(), header.data(), header.size());
    uint8_t* at = out.data() + header.size();
    for (unsigned y = 0; y < height; ++y, at += row_bytes)
        std::memcpy(at, FreeImage_GetScanLine(image, static_cast<int>(y)), row_bytes);
    return true;
}

}  // namespace kestrune
