// Turning one GIF file into the frames that are converted, every frame fully
// composed at 32 bits per pixel.
//
// Frames come from the one-pass composer (gif_composer.h). FreeImage's own
// playback pages remain only as a reference to compare it with: they read a
// frame without a graphic control extension as disposed to the background,
// and write past their canvas for a frame reaching outside the screen.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "formats/gif_composer.h"
#include "platform/bitmap.h"

namespace kestrune {

struct FrameSource {
    std::unique_ptr<GifComposer> composer;  // empty for the playback reference
    MultiBitmap multi;   // FreeImage's playback pages (the reference), or empty
    Bitmap single;       // used only when the multi-page open gave nothing
    int frame_count = 0;
};

FrameSource OpenFrameSource(const std::string& path);
// FreeImage's playback pages, the reference the composer is compared with;
// only the leading frames that lie wholly inside the screen, which playback
// can compose without writing past its canvas.
FrameSource OpenPlaybackFrameSource(const std::string& path);
// First and last frame index (inclusive) for a frame count >= 1 and a
// "GIF Frame Loading" code.
std::pair<int, int> SelectFrameRange(int count, int code);
// A new bitmap owned by the caller; empty when the frame cannot be taken.
// Ascending indices are cheapest; any order gives the same frames.
Bitmap TakeFrame(FrameSource& source, int index);

}  // namespace kestrune
