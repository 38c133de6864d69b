// A small GIF89a encoder for generated test images: frames with offsets,
// local palettes, transparency, disposal and interlacing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct GifColour {
    uint8_t r = 0, g = 0, b = 0;
};

struct GifFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> indices;         // width * height, rows top-down
    std::vector<GifColour> local_palette;  // empty: use the global palette
    int transparent = -1;                  // index, or -1
    int disposal = 0;                      // 0 unspecified, 1 none, 2 background, 3 previous
    int delay_cs = 10;
    bool interlaced = false;
};

struct GifImage {
    int width = 0, height = 0;
    std::vector<GifColour> global_palette;
    int background = 0;
    std::vector<GifFrame> frames;
};

std::string EncodeGif(const GifImage& image);
void WriteGif(const std::string& path, const GifImage& image);

// A full-screen frame of one palette index.
GifFrame SolidFrame(int width, int height, uint8_t index);

// An animation of `frames` full frames, w x h, frame k filled with palette
// index k % 4 of red, green, blue, white.
GifImage SimpleAnimation(int width, int height, int frames);

// A still w x h image showing an asymmetric "F" (index 1, red) on blue
// (index 0): a flip, a rotation or a swapped channel shows at once.
GifImage LetterF(int width, int height);

}  // namespace testing_support
