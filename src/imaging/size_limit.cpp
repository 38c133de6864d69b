#include "imaging/size_limit.h"

namespace kestrune {

Bitmap LimitFrameSize(Bitmap image, int32_t limit, int& width, int& height) {
    if (limit <= 0 || !image) return image;
    if (WidthOf(image) <= limit && HeightOf(image) <= limit) return image;
    Bitmap scaled(FreeImage_Rescale(image.get(), limit, limit, FILTER_BICUBIC));
    width = limit;
    height = limit;
    return scaled;
}

}  // namespace kestrune
