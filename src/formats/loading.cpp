#include "formats/loading.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
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

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool SkipSubBlocks(std::FILE* f) {
    while (true) {
        const int size = std::fgetc(f);
        if (size == EOF) return false;
        if (size == 0) return true;
        if (std::fseek(f, size, SEEK_CUR) != 0) return false;
    }
}

// FreeImage's playback composes each frame into a canvas of the logical
// screen without clipping the frame rectangle, so a frame reaching past the
// screen writes beyond the canvas (heap corruption). This walks the block
// structure and returns how many leading frames lie wholly inside the
// screen; only those are handed to FreeImage. A structure that cannot be
// followed ends the walk, trusting no frame after that point.
int FramesInsideScreen(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return 0;
    unsigned char header[13];
    if (std::fread(header, 1, sizeof header, f.get()) != sizeof header) return 0;
    const unsigned screen_width = header[6] | header[7] << 8;
    const unsigned screen_height = header[8] | header[9] << 8;
    if (header[10] & 0x80) {
        if (std::fseek(f.get(), 3L << ((header[10] & 7) + 1), SEEK_CUR) != 0) return 0;
    }
    int frames = 0;
    while (true) {
        const int block = std::fgetc(f.get());
        if (block == 0x2C) {
            unsigned char d[9];
            if (std::fread(d, 1, sizeof d, f.get()) != sizeof d) return frames;
            const unsigned left = d[0] | d[1] << 8, top = d[2] | d[3] << 8;
            const unsigned width = d[4] | d[5] << 8, height = d[6] | d[7] << 8;
            if (left + width > screen_width || top + height > screen_height) return frames;
            ++frames;
            if (d[8] & 0x80) {
                if (std::fseek(f.get(), 3L << ((d[8] & 7) + 1), SEEK_CUR) != 0) return frames;
            }
            if (std::fgetc(f.get()) == EOF || !SkipSubBlocks(f.get())) return frames;
        } else if (block == 0x21) {
            if (std::fgetc(f.get()) == EOF || !SkipSubBlocks(f.get())) return frames;
        } else {
            return frames;  // the trailer, the end of the file, or garbage
        }
    }
}

}  // namespace

FrameSource OpenFrameSource(const std::string& path) {
    FrameSource source;
    const int safe_frames = FramesInsideScreen(path);
    // Playback mode hands out every page as the composed animation frame
    // (32 bits, disposal and transparency applied) instead of the raw
    // sub-image.
    source.multi.reset(FreeImage_OpenMultiBitmap(FIF_GIF, path.c_str(), FALSE, TRUE, TRUE,
                                                 GIF_PLAYBACK));
    if (source.multi) {
        const int pages = FreeImage_GetPageCount(source.multi.get());
        source.frame_count = std::max(0, std::min(pages, safe_frames));
        // A handle with no pages is a failed file; the single load is only
        // the fallback for an open that gave no handle at all.
        return source;
    }
    if (safe_frames > 0) source.single.reset(FreeImage_Load(FIF_GIF, path.c_str(), GIF_PLAYBACK));
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
