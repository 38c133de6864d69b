// Turning one GIF file into the frames that are converted, every frame fully
// composed at 32 bits per pixel.
//
// Frames come from a one-pass composer: the file is read once, each raw page
// is decoded once by FreeImage, and the canvas is carried from frame to frame
// with exactly the rules of FreeImage's own playback mode, so the frames are
// byte for byte the ones GIF_PLAYBACK gives, at a cost linear in the number
// of frames. Files the composer does not take go through FreeImage's playback
// pages instead.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "imaging/bitmap.h"

namespace kestrune {

// The largest logical screen decoded, in pixels: 100 megapixels (for
// example 10000 x 10000), about 400 MB for one 32-bit canvas. Every frame is
// composed on the whole screen, so a 44-byte file declaring 65535 x 65535
// would otherwise ask for 17 GB. Larger screens give no frames, decided from
// the header before anything is decoded.
inline constexpr long long kMaxScreenPixels = 100'000'000;

struct GifComposer;
struct GifComposerDeleter {
    void operator()(GifComposer* composer) const;
};

struct FrameSource {
    // The one-pass composer, or empty when the file goes through FreeImage's
    // playback pages below.
    std::unique_ptr<GifComposer, GifComposerDeleter> composer;
    MultiBitmap multi;   // FreeImage's playback pages, or empty
    Bitmap single;       // used only when the multi-page open gave nothing
    int frame_count = 0;
};

FrameSource OpenFrameSource(const std::string& path);
// FreeImage's playback pages alone (with the same screen checks): the route
// for files the composer does not take, and the reference it is held to.
FrameSource OpenPlaybackFrameSource(const std::string& path);
// First and last frame index (inclusive) for a frame count >= 1 and a
// "GIF Frame Loading" code.
std::pair<int, int> SelectFrameRange(int count, int code);
// A new bitmap owned by the caller; empty when the frame cannot be taken.
// Ascending indices are cheapest; any order gives the same frames.
Bitmap TakeFrame(FrameSource& source, int index);
void CloseFrameSource(FrameSource& source);

}  // namespace kestrune
