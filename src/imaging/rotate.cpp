#include "imaging/rotate.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "imaging/colour.h"

namespace kestrune {

namespace {

bool RotatesBy(int angle) { return angle > 0 && angle < 360; }

}  // namespace

// The library turns by quarter turns first, exactly, and shears the rest
// (at most 45 degrees) through three passes; each pass makes a bitmap of its
// own, sized with the library's own rounding. Those sizes, not the ideal
// bounding box, are what a rotation costs.
RotationCanvas SimpleRotationCanvas(long long width, long long height, double degrees) {
    double angle = std::fmod(degrees, 360.0);
    if (angle < 0) angle += 360.0;
    long long w = width, h = height;
    if (angle > 45 && angle <= 135) {
        std::swap(w, h);
        angle -= 90;
    } else if (angle > 135 && angle <= 225) {
        angle -= 180;
    } else if (angle > 225 && angle <= 315) {
        std::swap(w, h);
        angle -= 270;
    }
    RotationCanvas canvas{w, h, w * h};
    if (angle == 0) return canvas;
    const double radians = angle * 3.14159265358979323846 / 180.0;
    const double sine = std::fabs(std::sin(radians)), cosine = std::cos(radians);
    const double half_tangent = std::fabs(std::tan(radians / 2));
    const auto whole = [](double v) { return static_cast<long long>(v + 0.5); };
    const long long width_1 = w + whole(static_cast<double>(h) * half_tangent);
    const long long height_2 = whole(static_cast<double>(w) * sine + static_cast<double>(h) * cosine) + 1;
    const long long width_3 = whole(static_cast<double>(h) * sine + static_cast<double>(w) * cosine) + 1;
    canvas.width = width_3;
    canvas.height = height_2;
    canvas.largest_pixels = std::max({width_1 * h, width_1 * height_2, width_3 * height_2});
    return canvas;
}

namespace {

// A long, thin frame (a 132-byte GIF can declare 64258 x 1) would ask for
// gigabytes at 30 degrees. Such a rotation is refused under the same pixel
// bound as the loader's screen; the frame then fails like any failed
// operation. A quarter turn of the largest screen allowed costs no more than
// the screen itself, so it is never refused.
bool RotationTooLarge(int width, int height, double degrees) {
    return SimpleRotationCanvas(width, height, degrees).largest_pixels > kMaxScreenPixels;
}

}  // namespace

Bitmap RotateImage(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image) return image;
    if (!s.do_image_rotation || !RotatesBy(s.image_rotation)) return image;

    const int width = WidthOf(image);
    const int height = HeightOf(image);

    // The library rotates palette images by index and would read the back
    // colour as an index; only true-colour images are rotated as they are.
    const int bpp = BppOf(image);
    if (bpp <= 16 || bpp > 32) {
        image = Bitmap(FreeImage_ConvertTo24Bits(image.get()));
        if (!image) return image;
    }

    const double angle = s.image_rotation;
    if (s.image_rotation_type == 0) {
        if (RotationTooLarge(width, height, angle)) return Bitmap();
        const Rgb colour = ParseColour(s.image_rotation_back_color);
        // The library copies all four bytes of the record into a 32-bit
        // image's corners; a zero fourth byte would make the back colour
        // invisible there, so 32-bit corners are filled opaque.
        const BYTE alpha = BppOf(image) == 32 ? 0xFF : 0;
        RGBQUAD back{colour.blue, colour.green, colour.red, alpha};
        return Bitmap(FreeImage_Rotate(image.get(), angle, &back));
    }
    if (s.image_rotation_type == 1) {
        // About the centre, same canvas: what turns out of it is cut off.
        return Bitmap(FreeImage_RotateEx(image.get(), angle, 0.0, 0.0, width / 2.0,
                                         height / 2.0, FALSE));
    }
    return image;
}

Bitmap FlipImage(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image) return image;
    if (s.do_image_flip_horizontal) FreeImage_FlipHorizontal(image.get());
    if (s.do_image_flip_vertical) FreeImage_FlipVertical(image.get());
    return image;
}

Bitmap RotateWatermark(Bitmap watermark, const Settings& s) {
    if (!watermark) return watermark;
    int angle = 0;
    if (s.do_watermark == kTextWatermark) angle = s.text_rotation;
    else if (s.do_watermark == kImageWatermark) angle = s.wm_image_rotation;
    if (!RotatesBy(angle)) return watermark;
    // Without a back colour the library clears the uncovered corners to all
    // zero bytes, which on the 32-bit watermark means fully transparent.
    return Bitmap(FreeImage_Rotate(watermark.get(), angle, nullptr));
}

}  // namespace kestrune
