// Turning one GIF file into the frames that are converted, every frame fully
// composed at 32 bits per pixel.
#pragma once

#include <string>
#include <utility>

#include "imaging/bitmap.h"

namespace kestrune {

struct FrameSource {
    MultiBitmap multi;   // the multi-page handle, or empty
    Bitmap single;       // used only when the multi-page open gave nothing
    int frame_count = 0;
};

FrameSource OpenFrameSource(const std::string& path);
// First and last frame index (inclusive) for a frame count >= 1 and a
// "GIF Frame Loading" code.
std::pair<int, int> SelectFrameRange(int count, int code);
// A new bitmap owned by the caller; empty when the frame cannot be taken.
Bitmap TakeFrame(FrameSource& source, int index);
void CloseFrameSource(FrameSource& source);

}  // namespace kestrune
