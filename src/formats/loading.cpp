#include "formats/loading.h"

#include <chrono>
#include <climits>
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

// FreeImage's memory streams use 32-bit offsets.
constexpr size_t kMaxGifBytes = INT_MAX;

}  // namespace

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
    if (!source.composer) return Bitmap();
    return source.composer->Take(index);
}

}  // namespace kestrune
