// FreeImage's GIF playback pages, the reference the frame composer is
// compared with. Playback reads a frame without a graphic control extension
// as disposed to the background and writes past its canvas for a frame
// reaching outside the screen, so only the leading frames that lie wholly
// inside the screen are taken from it.
#pragma once

#include <string>

#include "platform/bitmap.h"

namespace testing_support {

struct PlaybackFrames {
    kestrune::MultiBitmap multi;  // the playback pages, or empty
    kestrune::Bitmap single;      // used only when the multi-page open gave nothing
    int frame_count = 0;
};

PlaybackFrames OpenPlaybackFrames(const std::string& path);
// A new bitmap owned by the caller; empty when the frame cannot be taken.
kestrune::Bitmap TakePlaybackFrame(PlaybackFrames& source, int index);

}  // namespace testing_support
