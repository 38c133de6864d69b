#include "imaging/size_limit.h"

namespace kestrune {

Bitmap LimitSize(Bitmap image, const FrameContext& context) {
    const int limit = context.format.size_limit;
    if (limit <= 0 || !image) return image;
    if (WidthOf(image) <= limit && HeightOf(image) <= limit) return image;
    return Bitmap(FreeImage_Rescale(image.get(), limit, limit, FILTER_BICUBIC));
}

}  // namespace kestrune
