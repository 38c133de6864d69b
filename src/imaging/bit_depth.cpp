#include "imaging/bit_depth.h"

#include <cmath>

#include "imaging/pipeline.h"


namespace kestrune {

namespace {

// Every FreeImage conversion makes a new bitmap; replacing the owner
// releases the one it came from, and a failed conversion leaves an empty
// owner that the save will refuse.
void Replace(Bitmap& image, FIBITMAP* converted) { image.reset(converted); }

float SrgbToLinear(float v) {
    return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

// Some float outputs (OpenEXR, Radiance, TIFF's LogLuv encoding) hold linear
// light by definition; the frame's 8-bit values are sRGB-encoded, so they are
// decoded rather than only scaled to 0..1. Other float outputs (PFM, other
// float TIFF, JPEG XR) keep the scaled values.
void DecodeSrgb(FIBITMAP* image) {
    if (!image || FreeImage_GetImageType(image) != FIT_RGBF) return;
    const unsigned width = FreeImage_GetWidth(image);
    const unsigned height = FreeImage_GetHeight(image);
    for (unsigned y = 0; y < height; ++y) {
        FIRGBF* row = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(image, static_cast<int>(y)));
        for (unsigned x = 0; x < width; ++x) {
            row[x].red = SrgbToLinear(row[x].red);
            row[x].green = SrgbToLinear(row[x].green);
            row[x].blue = SrgbToLinear(row[x].blue);
        }
    }
}

}  // namespace

Bitmap DropUnusedAlpha(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image || BppOf(image) != 32 || FreeImage_GetImageType(image.get()) != FIT_BITMAP) return image;
    if (context.format.bpp != 24) return image;
    if (AlphaNeededAfter("drop unused alpha", s)) return image;
    Bitmap rgb(FreeImage_ConvertTo24Bits(image.get()));
    // Without memory for the copy the frame goes on as it was.
    return rgb ? std::move(rgb) : std::move(image);
}

Bitmap ConvertBitDepth(Bitmap image, const FrameContext& context) {
    const FrameFormat& format = context.format;
    if (!image) return image;

    const int current = BppOf(image);
    const int target = format.bpp;
    if (current == target) return image;

    // The conversions to fewer bits drop the alpha channel of the 32-bit
    // frames without blending it: transparent pixels keep the colour that
    // playback composed under them.
    switch (target) {
        case 96:
            Replace(image, FreeImage_ConvertToRGBF(image.get()));
            if (format.linear_floats)
                DecodeSrgb(image.get());
            break;
        case 48:
            Replace(image, FreeImage_ConvertToRGB16(image.get()));
            break;
        case 32:
            Replace(image, FreeImage_ConvertTo32Bits(image.get()));
            break;
        case 24:
            Replace(image, FreeImage_ConvertTo24Bits(image.get()));
            break;
        case 16:
            // The 16-bit conversions only read ordinary bitmaps.
            if (current > 32) Replace(image, FreeImage_ConvertTo24Bits(image.get()));
            if (!image) break;
            // Icons and Targa files store 5-5-5; everything else 5-6-5.
            if (format.rgb555)
                Replace(image, FreeImage_ConvertTo16Bits555(image.get()));
            else
                Replace(image, FreeImage_ConvertTo16Bits565(image.get()));
            break;
        case 8:
            // The JPEG family stores 8 bits as greyscale, so the image is
            // turned grey rather than given a palette.
            if (format.grey_at_8_bits) {
                Replace(image, FreeImage_ConvertTo8Bits(image.get()));
                break;
            }
            // The Wu quantizer reads only 24-bit images.
            if (current != 24) Replace(image, FreeImage_ConvertTo24Bits(image.get()));
            if (!image) break;
            Replace(image, FreeImage_ColorQuantizeEx(image.get(), FIQ_WUQUANT, 256, 0, nullptr));
            break;
        case 4:
            Replace(image, FreeImage_ConvertTo4Bits(image.get()));
            break;
        case 1:
            Replace(image, FreeImage_Dither(image.get(), FID_FS));
            break;
        default:
            image.reset();
            break;
    }
    return image;
}

}  // namespace kestrune
