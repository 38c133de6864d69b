#include "imaging/resize.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "imaging/rounding.h"

namespace kestrune {

namespace {

// The setting's codes were numbered for the user interface, not in the
// library's order, so they are mapped one by one.
FREE_IMAGE_FILTER FilterFor(int algorithm) {
    switch (algorithm) {
        case 0: return FILTER_BOX;
        case 1: return FILTER_BILINEAR;
        case 2: return FILTER_BSPLINE;
        case 3: return FILTER_BICUBIC;
        case 4: return FILTER_CATMULLROM;
        case 5: return FILTER_LANCZOS3;
        default: return FILTER_BICUBIC;
    }
}

// Huge percentages or ratios must not overflow the conversion to int; a
// clamped size still goes to the library, whose failure fails the file.
int ClampToInt(double value) {
    if (!(value < static_cast<double>(INT_MAX))) return INT_MAX;
    if (!(value > static_cast<double>(INT_MIN))) return INT_MIN;
    return static_cast<int>(value);
}

// The shorter side follows from the longer one through a single-precision
// ratio and half-away rounding; both narrowings are kept so that sizes match
// those the program has always produced. A very flat image would round its
// short side to 0, which the library refuses: it keeps one pixel instead.
int ScaledSide(int target, float ratio) {
    const float quotient = static_cast<float>(static_cast<double>(target) / ratio);
    if (!(quotient < 2147483520.0f)) return INT_MAX;  // largest float below 2^31
    return std::max(1, RoundHalfAway(quotient));
}

}  // namespace

bool ResizeTooLarge(int width, int height) {
    // The library keeps a table of filter weights per target column and per
    // target row, several times the cost of a pixel: a target of 100000000 x 1
    // is within the pixel bound but would still take minutes and gigabytes.
    if (width > kMaxResizeSide || height > kMaxResizeSide) return true;
    return static_cast<long long>(width) * height > kMaxScreenPixels;
}

int TargetDimension(int value, int unit, int current) {
    if (unit == 0) return value;
    if (unit == 1) {
        // nearbyint under the default rounding mode: halves go to the even
        // neighbour (50% of 101 is 50, of 75 is 38).
        return ClampToInt(std::nearbyint(value / 100.0 * current));
    }
    return 0;
}

Bitmap ResizeImage(Bitmap image, const FrameContext& context) {
    const Settings& s = context.settings;
    if (!image || !s.do_image_resize) return image;
    const int width = WidthOf(image);
    const int height = HeightOf(image);
    if (width <= 0 || height <= 0) return image;

    const int tw = TargetDimension(s.image_width, s.image_width_unit, width);
    const int th = TargetDimension(s.image_height, s.image_height_unit, height);
    // Both targets must be set, even when only one of them is used below.
    if (tw <= 0 || th <= 0) return image;
    if (width == tw && height == th) return image;
    // "Large images only": an image reaching the target in either dimension
    // is still scaled, possibly growing in the other one.
    if (s.image_resize_type == 1 && width < tw && height < th) return image;

    int new_width = tw;
    int new_height = th;
    if (s.keep_aspect_ratio) {
        if (width >= height) {
            const float ratio = static_cast<float>(width) / static_cast<float>(height);
            new_height = ScaledSide(tw, ratio);
        } else {
            const float ratio = static_cast<float>(height) / static_cast<float>(width);
            new_width = ScaledSide(th, ratio);
        }
    }

    // Refused before the library allocates anything; the frame then fails
    // like any failed operation.
    if (ResizeTooLarge(new_width, new_height)) return Bitmap();
    return Bitmap(FreeImage_Rescale(image.get(), new_width, new_height,
                                    FilterFor(s.image_resize_algorithm)));
}

}  // namespace kestrune
