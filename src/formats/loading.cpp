#include "formats/loading.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "platform/files.h"

namespace kestrune {

namespace {

// One generator per worker thread, seeded from the clock on first use: the
// choice only has to be uniform, not reproducible.
std::mt19937& FrameGenerator() {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

// FreeImage's playback composes each frame into a canvas of the logical
// screen without clipping the frame rectangle, so a frame reaching past the
// screen writes beyond the canvas (heap corruption). Only the leading frames
// that lie wholly inside the screen are taken from it.
int FramesInsideScreen(const GifLayout& layout) {
    int frames = 0;
    for (const GifPage& p : layout.pages) {
        if (p.left + p.width > layout.screen_width || p.top + p.height > layout.screen_height)
            break;
        ++frames;
    }
    return frames;
}

// FreeImage's memory streams use 32-bit offsets.
constexpr size_t kMaxGifBytes = INT_MAX;


// How many leading frames may be handed to FreeImage's playback, 0 for a
// screen over the limit.
int PlayableFrames(const std::string& path) {
    std::vector<BYTE> file;
    if (!ReadWholeFile(path, file, kMaxGifBytes) || ScreenTooLarge(file)) return 0;
    const std::optional<GifLayout> layout = ScanGif(file);
    return layout ? FramesInsideScreen(*layout) : 0;
}

}  // namespace

FrameSource OpenPlaybackFrameSource(const std::string& path) {
    FrameSource source;
    const int playable = PlayableFrames(path);
    // Playback mode hands out every page as the composed animation frame
    // (32 bits, disposal and transparency applied) instead of the raw
    // sub-image.
    source.multi.reset(FreeImage_OpenMultiBitmap(FIF_GIF, path.c_str(), FALSE, TRUE, TRUE,
                                                 GIF_PLAYBACK));
    if (source.multi) {
        const int pages = FreeImage_GetPageCount(source.multi.get());
        source.frame_count = std::max(0, std::min(pages, playable));
        // A handle with no pages is a failed file; the single load is only
        // the fallback for an open that gave no handle at all.
        return source;
    }
    if (playable > 0) source.single.reset(FreeImage_Load(FIF_GIF, path.c_str(), GIF_PLAYBACK));
    source.frame_count = source.single ? 1 : 0;
    return source;
}

FrameSource OpenFrameSource(const std::string& path) {
    FrameSource source;
    std::vector<BYTE> file;
    if (!ReadWholeFile(path, file, kMaxGifBytes) || ScreenTooLarge(file)) return source;
    source.composer = GifComposer::Open(std::move(file));
    if (source.composer) source.frame_count = source.composer->FrameCount();
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
    if (source.composer) return source.composer->Take(index);
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

}  // namespace kestrune
