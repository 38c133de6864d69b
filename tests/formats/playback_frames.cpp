#include "playback_frames.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

#include "formats/gif_composer.h"
#include "support/harness.h"

namespace testing_support {

namespace {

int FramesInsideScreen(const kestrune::GifLayout& layout) {
    int frames = 0;
    for (const kestrune::GifPage& p : layout.pages) {
        if (p.left + p.width > layout.screen_width || p.top + p.height > layout.screen_height) break;
        ++frames;
    }
    return frames;
}

// How many leading frames may be handed to playback, 0 for a screen over
// the limit.
int PlayableFrames(const std::string& path) {
    const std::string text = ReadFileBytes(path);
    if (text.size() > INT_MAX) return 0;
    const std::vector<BYTE> file(text.begin(), text.end());
    if (kestrune::ScreenTooLarge(file)) return 0;
    const std::optional<kestrune::GifLayout> layout = kestrune::ScanGif(file);
    return layout ? FramesInsideScreen(*layout) : 0;
}

}  // namespace

PlaybackFrames OpenPlaybackFrames(const std::string& path) {
    PlaybackFrames source;
    const int playable = PlayableFrames(path);
    // Playback mode hands out every page as the composed animation frame
    // (32 bits, disposal and transparency applied) instead of the raw
    // sub-image.
    source.multi.reset(FreeImage_OpenMultiBitmap(FIF_GIF, path.c_str(), FALSE, TRUE, TRUE, GIF_PLAYBACK));
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

kestrune::Bitmap TakePlaybackFrame(PlaybackFrames& source, int index) {
    if (source.multi) {
        if (index < 0 || index >= source.frame_count) return kestrune::Bitmap();
        FIBITMAP* page = FreeImage_LockPage(source.multi.get(), index);
        if (!page) return kestrune::Bitmap();
        kestrune::Bitmap frame(FreeImage_Clone(page));
        FreeImage_UnlockPage(source.multi.get(), page, FALSE);
        return frame;
    }
    if (index != 0) return kestrune::Bitmap();
    return std::move(source.single);
}

}  // namespace testing_support
