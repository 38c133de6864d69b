// Writes the benchmark inputs: deterministic GIFs (fixed seeds), so every
// machine converts the same pixels. Usage: bench_workload <folder> [j6|tight]
// (with j6 or tight: that set only)
//   j1/      200 stills 640x480, 256 colours
//   j3/      20 animations 480x270, 30 frames of partial updates, mixed disposal
//   j4/      one animation 1920x1080, 60 frames
//   scale/   one 480x270 animation at 30, 120 and 380 frames (same first frames)
//   j6/      5000 small animations 64x64, 3 frames (an icon or sticker pack)
//   tight/   one animation 1000x1000, 500 frames (the address-space limit rows)
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "support/gif_writer.h"

using testing_support::GifColour;
using testing_support::GifFrame;
using testing_support::GifImage;

namespace {

std::vector<GifColour> Palette(std::mt19937& random) {
    std::vector<GifColour> p(256);
    for (GifColour& c : p) c = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
    return p;
}

// Smooth bands with a little noise: compresses like a dithered photo would,
// not like a flat fill or pure noise.
void Paint(GifFrame& f, std::mt19937& random, double phase) {
    f.indices.resize(static_cast<size_t>(f.width) * f.height);
    std::uniform_int_distribution<int> noise(0, 15);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const int gx = x + f.left, gy = y + f.top;
            double v = 64 * std::sin(gx / 41.0 + phase) + 64 * std::cos(gy / 29.0 - phase) + (gx + 2 * gy) / 8.0;
            int i = static_cast<int>(v) & 0xFF;
            if (noise(random) == 0) i = (i + noise(random)) & 0xFF;
            f.indices[static_cast<size_t>(y) * f.width + x] = static_cast<uint8_t>(i);
        }
    }
}

GifImage Still(int w, int h, unsigned seed) {
    std::mt19937 random(seed);
    GifImage gif;
    gif.width = w;
    gif.height = h;
    gif.global_palette = Palette(random);
    GifFrame f;
    f.width = w;
    f.height = h;
    Paint(f, random, seed * 0.37);
    gif.frames.push_back(f);
    return gif;
}

// Frame 0 covers the screen; every later frame updates a rectangle of 1/16
// to 1/4 of it, disposal cycling through none, background, previous and
// unspecified, every third frame with transparent holes.
GifImage Animation(int w, int h, int frames, unsigned seed) {
    std::mt19937 random(seed);
    GifImage gif = Still(w, h, seed);
    gif.frames[0].disposal = 1;
    const int disposals[] = {1, 2, 3, 0};
    for (int k = 1; k < frames; ++k) {
        GifFrame f;
        f.width = w / 4 + static_cast<int>(random() % (w / 4 + 1));
        f.height = h / 4 + static_cast<int>(random() % (h / 4 + 1));
        f.left = static_cast<int>(random() % (w - f.width + 1));
        f.top = static_cast<int>(random() % (h - f.height + 1));
        f.disposal = disposals[k % 4];
        f.delay_cs = 4;
        Paint(f, random, k * 0.21 + seed);
        if (k % 3 == 0) {
            f.transparent = 7;
            for (size_t i = 0; i < f.indices.size(); i += 3) f.indices[i] = 7;
        }
        gif.frames.push_back(f);
    }
    return gif;
}

void Write(const std::filesystem::path& path, const GifImage& gif) {
    std::filesystem::create_directories(path.parent_path());
    testing_support::WriteGif(path.string(), gif);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string only = argc == 3 ? argv[2] : "";
    if (argc < 2 || argc > 3 || (argc == 3 && only != "j6" && only != "tight")) {
        std::fprintf(stderr, "usage: %s <folder> [j6|tight]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    if (only == "tight") {
        Write(root / "tight" / "big500.gif", Animation(1000, 1000, 500, 6000));
        return 0;
    }
    char name[64];
    for (unsigned i = 0; i < 5000; ++i) {
        std::snprintf(name, sizeof name, "icon%04u.gif", i);
        Write(root / "j6" / name, Animation(64, 64, 3, 5000 + i));
    }
    if (argc == 3) return 0;
    for (unsigned i = 0; i < 200; ++i) {
        std::snprintf(name, sizeof name, "still%03u.gif", i);
        Write(root / "j1" / name, Still(640, 480, 1000 + i));
    }
    for (unsigned i = 0; i < 20; ++i) {
        std::snprintf(name, sizeof name, "anim%02u.gif", i);
        Write(root / "j3" / name, Animation(480, 270, 30, 2000 + i));
    }
    Write(root / "j4" / "big.gif", Animation(1920, 1080, 60, 3000));
    for (int frames : {30, 120, 380}) {
        std::snprintf(name, sizeof name, "frames%03d/anim.gif", frames);
        Write(root / "scale" / name, Animation(480, 270, frames, 4000));
    }
    return 0;
}
