// Turning one GIF file into the frames that are converted, every frame fully
// composed at 32 bits per pixel.
//
// Frames come from the one-pass composer (gif_composer.h).
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "formats/gif_composer.h"
#include "platform/bitmap.h"

namespace kestrune {

struct FrameSource {
    std::unique_ptr<GifComposer> composer;  // empty when the file cannot be read
    int frame_count = 0;
};

FrameSource OpenFrameSource(const std::string& path);
// First and last frame index (inclusive) for a frame count >= 1 and a
// "GIF Frame Loading" code.
std::pair<int, int> SelectFrameRange(int count, int code);
// A new bitmap owned by the caller; empty when the frame cannot be taken.
// Ascending indices are cheapest; any order gives the same frames.
Bitmap TakeFrame(FrameSource& source, int index);

}  // namespace kestrune
