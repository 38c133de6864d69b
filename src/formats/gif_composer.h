// The GIF composer: reads a file once and hands out every animation frame
// composed on the logical screen at 32 bits per pixel, in time linear in the
// number of frames.
#pragma once

#include <FreeImage.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bitmap.h"

namespace kestrune {


// One image of the file, where its bytes lie and how it is shown.
struct GifPage {
    size_t descriptor = 0;  // offset of the 0x2C introducer
    size_t end = 0;         // offset just past its last data sub-block
    size_t control = 0;     // offset of its graphic control extension (0x21), 0 for none
    size_t control_end = 0;
    unsigned left = 0, top = 0, width = 0, height = 0;
    // A page without a graphic control extension has disposal 0 ("not
    // specified": left in place) and no transparent colour.
    int disposal = 0;
    bool flagged_transparent = false;
};

struct GifLayout {
    unsigned screen_width = 0, screen_height = 0;
    size_t global_palette = 0;  // offset, 0 when there is none
    int global_size = 0;
    unsigned background_index = 0;
    std::vector<GifPage> pages;
};

// The block structure: the signature, then every block up to the trailer.
// Nothing when the walk runs off the end or meets an unknown block, which is
// where FreeImage's own reader gives no pages either.
std::optional<GifLayout> ScanGif(const std::vector<BYTE>& file);

bool ScreenTooLarge(const std::vector<BYTE>& file);

class GifComposer {
  public:
    // Empty when the file is no GIF the walk understands (no frames).
    static std::unique_ptr<GifComposer> Open(std::vector<BYTE> file);
    int FrameCount() const { return static_cast<int>(layout_.pages.size()); }
    // Frame `index`, a new bitmap owned by the caller; empty when it cannot
    // be made. Ascending indices cost one page decode each; going back
    // replays from the start.
    Bitmap Take(int index);
    ~GifComposer();

  private:
    GifComposer() = default;
    const GifPage& Page(int k) const { return layout_.pages[static_cast<size_t>(k)]; }
    bool IsKey(int k) const;
    Bitmap DecodePage(int k) const;
    void FillRect(FIBITMAP* dst, unsigned left, unsigned top, unsigned width, unsigned height) const;
    void FillAll(FIBITMAP* dst) const;
    void Draw(FIBITMAP* dst, FIBITMAP* page, int k) const;
    void Pass(int k);
    void StampFrameTime(FIBITMAP* frame, FIBITMAP* page);

    std::vector<BYTE> file_;
    GifLayout layout_;
    RGBQUAD background_{};
    Bitmap canvas_;  // the screen as frame `next_` finds it
    int next_ = 0;
    FITAG* frame_time_ = nullptr;  // a "FrameTime" tag to stamp frames with
};

}  // namespace kestrune
