#include "imaging/tones.h"

namespace kestrune {

namespace {

// Deep (16 bits per channel and float) images are brought down to 24 bits
// before the operations that only handle ordinary bitmaps.
Bitmap WidenedTo24(Bitmap image) { return Bitmap(FreeImage_ConvertTo24Bits(image.get())); }

}  // namespace

Bitmap AdjustTones(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image || !s.do_image_color_correction) return image;
    const int bpp = BppOf(image);
    if (bpp < 8 || bpp > 32) {
        image = WidenedTo24(std::move(image));
        if (!image) return image;
    }
    // The library reports failure for depths it does not adjust (16 bits);
    // the image then goes on unchanged, which is what the user gets anyway.
    FreeImage_AdjustColors(image.get(), static_cast<double>(s.image_brightness),
                           static_cast<double>(s.image_contrast),
                           static_cast<double>(s.image_gamma), s.image_invert ? TRUE : FALSE);
    return image;
}

Bitmap MakeGreyscale(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image || !s.do_image_greyscale) return image;
    if (BppOf(image) > 32) {
        image = WidenedTo24(std::move(image));
        if (!image) return image;
    }
    return Bitmap(FreeImage_ConvertToGreyscale(image.get()));
}

Bitmap ApplyThreshold(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image || !s.do_image_threshold) return image;
    if (BppOf(image) > 32) {
        image = WidenedTo24(std::move(image));
        if (!image) return image;
    }
    const BYTE level = static_cast<BYTE>(s.image_threshold & 0xFF);
    return Bitmap(FreeImage_Threshold(image.get(), level));
}

}  // namespace kestrune
