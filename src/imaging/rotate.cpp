#include "imaging/rotate.h"

#include <cmath>

#include "formats/loading.h"
#include "imaging/colour.h"

namespace kestrune {

namespace {

bool RotatesBy(int angle) { return angle > 0 && angle < 360; }

// The canvas of a rotation grows to the rotated bounding box, so a frame that
// is long and thin (a 132-byte GIF can declare 64258 x 1) would ask for
// gigabytes at 30 degrees. Such a rotation is refused under the same pixel
// bound as the loader's screen; the frame then fails like any failed
// operation.
bool RotatedBoxTooLarge(int width, int height, double degrees) {
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::fabs(std::cos(radians)), s = std::fabs(std::sin(radians));
    const double box_width = width * c + height * s + 2.0;
    const double box_height = width * s + height * c + 2.0;
    return box_width * box_height > static_cast<double>(kMaxScreenPixels);
}

}  // namespace

Bitmap RotateImage(Bitmap image, const Settings& s) {
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
        if (RotatedBoxTooLarge(width, height, angle)) return Bitmap();
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

void FlipImage(Bitmap& image, const Settings& s) {
    if (!image) return;
    if (s.do_image_flip_horizontal) FreeImage_FlipHorizontal(image.get());
    if (s.do_image_flip_vertical) FreeImage_FlipVertical(image.get());
}

Bitmap RotateWatermark(Bitmap watermark, const Settings& s) {
    if (!watermark) return watermark;
    int angle = 0;
    if (s.do_watermark == 1) angle = s.text_rotation;
    else if (s.do_watermark == 2) angle = s.wm_image_rotation;
    if (!RotatesBy(angle)) return watermark;
    // Without a back colour the library clears the uncovered corners to all
    // zero bytes, which on the 32-bit watermark means fully transparent.
    return Bitmap(FreeImage_Rotate(watermark.get(), angle, nullptr));
}

}  // namespace kestrune
