#include "formats/loading.h"

#include <chrono>
#include <random>

namespace kestrune {

namespace {

// One generator per worker thread, seeded from the clock on first use: the
// choice only has to be uniform, not reproducible.
std::mt19937& FrameGenerator() {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

}  // namespace

FrameSource OpenFrameSource(const std::string& path) {
    FrameSource source;
    // Playback mode hands out every page as the composed animation frame
    // (32 bits, disposal and transparency applied) instead of the raw
    // sub-image.
    source.multi.reset(FreeImage_OpenMultiBitmap(FIF_GIF, path.c_str(), FALSE, TRUE, TRUE,
                                                 GIF_PLAYBACK));
    if (source.multi) {
        const int pages = FreeImage_GetPageCount(source.multi.get());
        source.frame_count = pages > 0 ? pages : 0;
        // A handle with no pages is a failed file; the single load is only
        // the fallback for an open that gave no handle at all.
        return source;
    }
    source.single.reset(FreeImage_Load(FIF_GIF, path.c_str(), GIF_PLAYBACK));
    source.frame_count = source.single ? 1 : 0;
    return source;
}

std::pair<int, int> SelectFrameRange(int count, int code) {
    if (count < 1) count = 1;
    switch (code) {
        case 1:  // FIRST
            return {0, 0};
        case 2: {  // MIDDLE: the earlier of the two middle frames of an even count
            const int m = (count + 1) / 2;
            return {m - 1, m - 1};
        }
        case 3:  // LAST
            return {count - 1, count - 1};
        case 4: {  // RANDOM
            std::uniform_int_distribution<int> draw(1, count);
            const int r = draw(FrameGenerator());
            return {r - 1, r - 1};
        }
        default:  // ALL, and any unknown code
            return {0, count - 1};
    }
}

Bitmap TakeFrame(FrameSource& source, int index) {
    if (source.multi) {
        if (index < 0 || index >= source.frame_count) return Bitmap();
        FIBITMAP* page = FreeImage_LockPage(source.multi.get(), index);
        if (!page) return Bitmap();
        // The page stays with the multi-page bitmap; the caller gets a copy
        // it may change and release.
        Bitmap frame(FreeImage_Clone(page));
        FreeImage_UnlockPage(source.multi.get(), page, FALSE);
        return frame;
    }
    if (index != 0) return Bitmap();
    return std::move(source.single);
}

void CloseFrameSource(FrameSource& source) {
    source.multi.reset();
    source.single.reset();
}

}  // namespace kestrune
