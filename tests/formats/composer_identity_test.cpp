// The one-pass composer against FreeImage's own playback pages: every frame
// must be the same bitmap, byte for byte, on generated animations that walk
// through every disposal, transparency, offset, palette and interlacing
// case, and on every file of the shared corpus where playback is right.
// Playback is wrong in two cases, compared here against files that say the
// same thing in a form playback reads correctly: a frame without a graphic
// control extension (playback disposes it to the background; it is "not
// specified", left in place) and a frame reaching outside the screen
// (playback writes past its canvas; the frame is clipped to the screen).
#include <filesystem>
#include <random>
#include <sstream>

#include "formats/loading.h"
#include "formats_support.h"
#include "playback_frames.h"
#include "support/gif_writer.h"

using namespace kestrune;
using testing_support::GifColour;
using testing_support::GifFrame;
using testing_support::GifImage;
using testing_support::TempDir;

namespace {

LONG FrameTimeOf(FIBITMAP* b) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_ANIMATION, b, "FrameTime", &tag) || !tag) return -1;
    return *static_cast<const LONG*>(FreeImage_GetTagValue(tag));
}

// "" when both frames are the same bitmap, else what differs first.
std::string Difference(FIBITMAP* a, FIBITMAP* b) {
    if (!a || !b) return (a || b) ? std::string("only one route gave a frame") : "";
    const unsigned w = FreeImage_GetWidth(a), h = FreeImage_GetHeight(a);
    if (w != FreeImage_GetWidth(b) || h != FreeImage_GetHeight(b))
        return "size " + std::to_string(w) + "x" + std::to_string(h) + " vs " +
               std::to_string(FreeImage_GetWidth(b)) + "x" + std::to_string(FreeImage_GetHeight(b));
    if (FreeImage_GetBPP(a) != 32 || FreeImage_GetBPP(b) != 32)
        return "depth " + std::to_string(FreeImage_GetBPP(a)) + " vs " + std::to_string(FreeImage_GetBPP(b));
    if (FreeImage_GetPitch(a) != FreeImage_GetPitch(b) || FreeImage_GetRedMask(a) != FreeImage_GetRedMask(b) ||
        FreeImage_GetBlueMask(a) != FreeImage_GetBlueMask(b) ||
        FreeImage_GetDotsPerMeterX(a) != FreeImage_GetDotsPerMeterX(b))
        return "bitmap header differs";
    for (unsigned row = 0; row < h; ++row) {
        const BYTE* ra = FreeImage_GetScanLine(a, static_cast<int>(row));
        const BYTE* rb = FreeImage_GetScanLine(b, static_cast<int>(row));
        for (unsigned x = 0; x < w * 4; ++x) {
            if (ra[x] != rb[x]) {
                std::ostringstream s;
                s << "pixel (" << x / 4 << ", " << h - 1 - row << ") channel " << x % 4 << ": "
                  << int(ra[x]) << " vs " << int(rb[x]);
                return s.str();
            }
        }
    }
    if (FrameTimeOf(a) != FrameTimeOf(b))
        return "FrameTime " + std::to_string(FrameTimeOf(a)) + " vs " + std::to_string(FrameTimeOf(b));
    if (FreeImage_GetMetadataCount(FIMD_ANIMATION, a) != FreeImage_GetMetadataCount(FIMD_ANIMATION, b))
        return "animation metadata count differs";
    return "";
}

struct Comparison {
    bool composed = false;  // the composer took the file
    int frames = 0;
};

// Every frame of both routes, in ascending order, as the worker takes them;
// the playback frames of `reference_path` when given.
Comparison ExpectSameFrames(const std::string& path, const std::string& reference_path = "") {
    Comparison result;
    FrameSource fast = OpenFrameSource(path);
    testing_support::PlaybackFrames reference =
        testing_support::OpenPlaybackFrames(reference_path.empty() ? path : reference_path);
    result.composed = static_cast<bool>(fast.composer);
    result.frames = fast.frame_count;
    EXPECT_EQ(fast.frame_count, reference.frame_count) << path;
    for (int i = 0; i < std::min(fast.frame_count, reference.frame_count); ++i) {
        Bitmap a = TakeFrame(fast, i);
        Bitmap b = testing_support::TakePlaybackFrame(reference, i);
        const std::string d = Difference(a.get(), b.get());
        EXPECT_EQ(d, "") << path << " frame " << i;
        if (!d.empty()) break;  // later frames inherit the difference
    }
    fast = {};
    reference = {};
    return result;
}

// The encoded file without the graphic control extension of the listed
// frames, as a GIF87a-style writer would leave them.
std::string WithoutControlBlocks(const std::string& gif, const std::vector<int>& frames) {
    std::string out = gif.substr(0, 13);
    size_t pos = 13;
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(gif[at]); };
    if (byte(10) & 0x80) {
        const size_t n = 3u * (2u << (byte(10) & 7));
        out += gif.substr(pos, n);
        pos += n;
    }
    const auto sub_blocks_end = [&](size_t at) {
        while (byte(at) != 0) at += byte(at) + 1u;
        return at + 1;
    };
    int frame = 0;
    while (pos < gif.size()) {
        const unsigned char block = byte(pos);
        size_t end;
        if (block == 0x2C) {
            size_t at = pos + 10;
            if (byte(pos + 9) & 0x80) at += 3u * (2u << (byte(pos + 9) & 7));
            end = sub_blocks_end(at + 1);
            ++frame;
        } else if (block == 0x21) {
            end = sub_blocks_end(pos + 2);
            const bool drop = byte(pos + 1) == 0xF9 &&
                              std::find(frames.begin(), frames.end(), frame) != frames.end();
            if (drop) {
                pos = end;
                continue;
            }
        } else {
            end = gif.size();
        }
        out += gif.substr(pos, end - pos);
        pos = end;
    }
    return out;
}

std::vector<GifColour> Palette(std::mt19937& random, int n) {
    std::vector<GifColour> p(static_cast<size_t>(n));
    for (GifColour& c : p) c = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
    return p;
}

GifFrame RandomFrame(std::mt19937& random, int x, int y, int w, int h, int colours) {
    GifFrame f;
    f.left = x;
    f.top = y;
    f.width = w;
    f.height = h;
    f.indices.resize(static_cast<size_t>(w) * h);
    for (uint8_t& i : f.indices) i = static_cast<uint8_t>(random() % colours);
    return f;
}

// A 4-colour screen, 13 x 9 (odd, so row padding and flips would show).
GifImage Base(std::mt19937& random) {
    GifImage gif;
    gif.width = 13;
    gif.height = 9;
    gif.global_palette = Palette(random, 4);
    gif.background = 2;
    gif.frames.push_back(RandomFrame(random, 0, 0, 13, 9, 4));
    gif.frames[0].disposal = 1;
    return gif;
}

class ComposerIdentity : public ::testing::Test {
  protected:
    void SetUp() override { formats_test::InitLibraries(); }
    Comparison Check(const GifImage& gif, const std::string& name) {
        const std::string path = dir_ / (name + ".gif");
        testing_support::WriteGif(path, gif);
        const Comparison c = ExpectSameFrames(path);
        EXPECT_TRUE(c.composed) << name << " went to the playback route";
        EXPECT_EQ(c.frames, static_cast<int>(gif.frames.size())) << name;
        return c;
    }
    TempDir dir_;
};

TEST_F(ComposerIdentity, EveryDisposalWithAndWithoutTransparency) {
    std::mt19937 random(7);
    // Values 4 to 7 are reserved; FreeImage keeps such frames like "none".
    for (int disposal = 0; disposal <= 7; ++disposal) {
        for (int transparent : {-1, 0, 3}) {
            SCOPED_TRACE("disposal " + std::to_string(disposal) + " transparent " + std::to_string(transparent));
            GifImage gif = Base(random);
            GifFrame middle = RandomFrame(random, 2, 1, 7, 5, 4);
            middle.disposal = disposal;
            middle.transparent = transparent;
            gif.frames.push_back(middle);
            GifFrame after = RandomFrame(random, 5, 3, 6, 6, 4);
            after.transparent = 1;
            after.disposal = disposal;
            gif.frames.push_back(after);
            gif.frames.push_back(RandomFrame(random, 0, 0, 3, 2, 4));
            Check(gif, "d" + std::to_string(disposal) + "t" + std::to_string(transparent));
        }
    }
}

TEST_F(ComposerIdentity, FullScreenFramesThatRestartPlayback) {
    // A full-screen frame that is kept and opaque, or that disposes to the
    // background, is where playback restarts; a transparent or restoring
    // one is not. Frames after each kind show whether the canvas before it
    // was dropped.
    std::mt19937 random(11);
    for (int disposal = 0; disposal <= 3; ++disposal) {
        for (int transparent : {-1, 1}) {
            SCOPED_TRACE("disposal " + std::to_string(disposal) + " transparent " + std::to_string(transparent));
            GifImage gif = Base(random);
            gif.frames.push_back(RandomFrame(random, 1, 1, 4, 4, 4));
            GifFrame full = RandomFrame(random, 0, 0, 13, 9, 4);
            full.disposal = disposal;
            full.transparent = transparent;
            gif.frames.push_back(full);
            GifFrame hole = RandomFrame(random, 3, 2, 8, 6, 4);
            hole.transparent = 0;
            gif.frames.push_back(hole);
            gif.frames.push_back(RandomFrame(random, 10, 7, 3, 2, 4));
            Check(gif, "full" + std::to_string(disposal) + "t" + std::to_string(transparent));
        }
    }
}

TEST_F(ComposerIdentity, LocalPalettesInterlacingAndOffsets) {
    std::mt19937 random(5);
    GifImage gif = Base(random);
    gif.frames[0].interlaced = true;
    for (int k = 0; k < 6; ++k) {
        GifFrame f = RandomFrame(random, k, k % 3, 13 - k, 9 - (k % 3), 16);
        f.local_palette = Palette(random, 16);  // indices above 3 need it
        f.interlaced = k % 2 == 0;
        f.transparent = k % 3 == 0 ? 5 : -1;
        f.disposal = k % 4;
        gif.frames.push_back(f);
    }
    Check(gif, "palettes");
}

TEST_F(ComposerIdentity, BackgroundColourChoices) {
    std::mt19937 random(3);
    for (int background : {0, 3, 200}) {  // 200 lies outside the 4-entry palette
        GifImage gif = Base(random);
        gif.background = background;
        GifFrame cleared = RandomFrame(random, 2, 2, 5, 5, 4);
        cleared.disposal = 2;
        gif.frames.push_back(cleared);
        gif.frames.push_back(RandomFrame(random, 0, 0, 1, 1, 4));
        Check(gif, "background" + std::to_string(background));
    }
    // No global palette at all: frames bring their own, the background is black.
    GifImage gif = Base(random);
    gif.frames[0].local_palette = gif.global_palette;
    gif.global_palette.clear();
    GifFrame cleared = RandomFrame(random, 2, 2, 5, 5, 4);
    cleared.local_palette = Palette(random, 4);
    cleared.disposal = 2;
    gif.frames.push_back(cleared);
    GifFrame last = RandomFrame(random, 0, 0, 1, 1, 2);
    last.local_palette = Palette(random, 2);
    gif.frames.push_back(last);
    Check(gif, "no-global");
}

TEST_F(ComposerIdentity, FramesWithoutControlExtension) {
    // Such a frame is shown like one whose extension says no disposal, no
    // transparency and no delay.
    std::mt19937 random(13);
    GifImage gif = Base(random);
    for (int k = 0; k < 4; ++k) gif.frames.push_back(RandomFrame(random, k * 2, k, 5, 4, 4));
    GifFrame full = RandomFrame(random, 0, 0, 13, 9, 4);
    gif.frames.push_back(full);
    gif.frames.push_back(RandomFrame(random, 4, 4, 3, 3, 4));
    for (const std::vector<int>& stripped : {std::vector<int>{0, 1, 2, 3, 4, 5, 6}, std::vector<int>{2, 5}}) {
        GifImage said = gif;
        for (int k : stripped) {
            GifFrame& f = said.frames[static_cast<size_t>(k)];
            f.disposal = 0;
            f.transparent = -1;
            f.delay_cs = 0;
        }
        for (size_t k = 0; k < said.frames.size(); ++k)
            if (std::find(stripped.begin(), stripped.end(), static_cast<int>(k)) == stripped.end()) {
                said.frames[k].disposal = 2;  // the others clear, so leaving in place shows
                said.frames[k].transparent = 1;
            }
        const std::string name = "bare" + std::to_string(stripped.size());
        const std::string reference = dir_ / (name + "-said.gif");
        testing_support::WriteGif(reference, said);
        const std::string path = dir_ / (name + ".gif");
        testing_support::WriteFileBytes(path, WithoutControlBlocks(testing_support::EncodeGif(said), stripped));
        const Comparison c = ExpectSameFrames(path, reference);
        EXPECT_EQ(c.frames, 7);
    }
}

// A frame reaching past the screen on any side, or lying wholly outside it,
// is clipped to the screen and every frame is kept: the same frames as a
// file whose frame was cut to the screen beforehand (wholly outside: a
// frame that draws nothing).
TEST_F(ComposerIdentity, FramesOutsideTheScreenAreClipped) {
    struct Placement {
        int left, top, width, height;
    };
    const Placement placements[] = {
        {9, 2, 6, 4},  {2, 6, 5, 5},   {10, 7, 7, 7}, {0, 0, 20, 12},
        {13, 0, 3, 3}, {0, 9, 2, 2},   {65530, 65530, 5, 5},
    };
    std::mt19937 random(23);
    for (const Placement& p : placements) {
        for (int where : {0, 1}) {  // the first frame, or one in the middle
            SCOPED_TRACE(std::to_string(p.left) + "," + std::to_string(p.top) + " " + std::to_string(p.width) +
                         "x" + std::to_string(p.height) + " at " + std::to_string(where));
            GifImage gif = Base(random);
            GifFrame outside = RandomFrame(random, p.left, p.top, p.width, p.height, 4);
            outside.transparent = 3;
            outside.disposal = 1;
            gif.frames.insert(gif.frames.begin() + where, outside);
            gif.frames.push_back(RandomFrame(random, 1, 1, 3, 3, 4));
            GifImage cut = gif;
            GifFrame& c = cut.frames[static_cast<size_t>(where)];
            const int w = std::max(0, std::min(p.width, gif.width - p.left));
            const int h = std::max(0, std::min(p.height, gif.height - p.top));
            if (w == 0 || h == 0) {
                c = RandomFrame(random, 0, 0, 1, 1, 4);
                c.indices[0] = 3;  // transparent: draws nothing
                c.transparent = 3;
            } else {
                c.left = p.left;
                c.top = p.top;
                c.width = w;
                c.height = h;
                c.indices.clear();
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        c.indices.push_back(outside.indices[static_cast<size_t>(y * p.width + x)]);
            }
            const std::string path = dir_ / "outside.gif", reference = dir_ / "cut.gif";
            testing_support::WriteGif(path, gif);
            testing_support::WriteGif(reference, cut);
            const Comparison result = ExpectSameFrames(path, reference);
            EXPECT_EQ(result.frames, static_cast<int>(gif.frames.size()));
        }
    }
}

TEST_F(ComposerIdentity, RandomAnimations) {
    std::mt19937 random(20240601);
    for (int n = 0; n < 120; ++n) {
        SCOPED_TRACE("animation " + std::to_string(n));
        GifImage gif;
        gif.width = 1 + static_cast<int>(random() % 24);
        gif.height = 1 + static_cast<int>(random() % 24);
        const int colours = 2 << (random() % 4);
        if (random() % 5 != 0) gif.global_palette = Palette(random, colours);
        gif.background = static_cast<int>(random() % (colours + 2));
        const int frames = 1 + static_cast<int>(random() % 9);
        for (int k = 0; k < frames; ++k) {
            const bool full = random() % 3 == 0;
            const int w = full ? gif.width : 1 + static_cast<int>(random() % gif.width);
            const int h = full ? gif.height : 1 + static_cast<int>(random() % gif.height);
            const int x = full ? 0 : static_cast<int>(random() % (gif.width - w + 1));
            const int y = full ? 0 : static_cast<int>(random() % (gif.height - h + 1));
            GifFrame f = RandomFrame(random, x, y, w, h, colours);
            if (gif.global_palette.empty() || random() % 4 == 0) f.local_palette = Palette(random, colours);
            f.disposal = static_cast<int>(random() % 5);
            f.transparent = random() % 2 ? static_cast<int>(random() % colours) : -1;
            f.interlaced = random() % 4 == 0;
            f.delay_cs = static_cast<int>(random() % 50);
            gif.frames.push_back(f);
        }
        Check(gif, "random" + std::to_string(n));
        if (HasFailure()) break;
    }
}

TEST_F(ComposerIdentity, AnyOrderGivesTheSameFrames) {
    // The worker takes frames in ascending order; a single frame ("LAST",
    // "RANDOM") or going back must still compose from the right canvas.
    std::mt19937 random(17);
    GifImage gif = Base(random);
    for (int k = 0; k < 9; ++k) {
        GifFrame f = RandomFrame(random, k % 5, k % 4, 6, 5, 4);
        f.disposal = k % 4;
        f.transparent = k % 2 ? 1 : -1;
        gif.frames.push_back(f);
    }
    // Frame 3 covers the screen but lets frames 0 to 2 show through, so it
    // is no restart point; frame 5 covers it opaquely and is one.
    gif.frames[3] = RandomFrame(random, 0, 0, 13, 9, 4);
    gif.frames[3].transparent = 1;
    gif.frames[3].disposal = 1;
    gif.frames[5] = RandomFrame(random, 0, 0, 13, 9, 4);
    gif.frames[5].disposal = 1;
    const std::string path = dir_ / "order.gif";
    testing_support::WriteGif(path, gif);
    testing_support::PlaybackFrames reference = testing_support::OpenPlaybackFrames(path);
    std::vector<Bitmap> expected;
    for (int i = 0; i < reference.frame_count; ++i) expected.push_back(testing_support::TakePlaybackFrame(reference, i));
    ASSERT_EQ(expected.size(), 10u);
    for (const std::vector<int>& order : {std::vector<int>{9}, std::vector<int>{4, 2, 9, 0, 7, 6, 6, 1},
                                          std::vector<int>{5, 8, 3, 9}}) {
        FrameSource fast = OpenFrameSource(path);
        ASSERT_TRUE(fast.composer);
        for (int i : order) {
            Bitmap frame = TakeFrame(fast, i);
            EXPECT_EQ(Difference(frame.get(), expected[static_cast<size_t>(i)].get()), "") << "frame " << i;
        }
        EXPECT_FALSE(TakeFrame(fast, 10));
        EXPECT_FALSE(TakeFrame(fast, -1));
    }
}

TEST(ScreenLimit, HugeScreensGiveNoFrames) {
    formats_test::InitLibraries();
    TempDir dir;
    GifImage gif;
    gif.global_palette = {{1, 2, 3}, {4, 5, 6}};
    gif.frames.push_back(testing_support::SolidFrame(1, 1, 1));
    gif.width = 65535;
    gif.height = 1526;  // 100,006,410 pixels: just over the limit
    ASSERT_GT(static_cast<long long>(gif.width) * gif.height, kMaxScreenPixels);
    testing_support::WriteGif(dir / "huge.gif", gif);
    {
        FrameSource source = OpenFrameSource(dir / "huge.gif");
        EXPECT_EQ(source.frame_count, 0);
        EXPECT_FALSE(TakeFrame(source, 0));
        testing_support::PlaybackFrames reference = testing_support::OpenPlaybackFrames(dir / "huge.gif");
        EXPECT_EQ(reference.frame_count, 0);
        EXPECT_FALSE(testing_support::TakePlaybackFrame(reference, 0));
    }
    // As wide, but thin enough: decoded.
    gif.height = 3;
    testing_support::WriteGif(dir / "wide.gif", gif);
    FrameSource source = OpenFrameSource(dir / "wide.gif");
    ASSERT_EQ(source.frame_count, 1);
    Bitmap frame = TakeFrame(source, 0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(WidthOf(frame), 65535);
    EXPECT_EQ(formats_test::ReadPixel(frame.get(), 0, 0), (testing_support::Rgba{4, 5, 6, 255}));
}

// Corpus files where playback is wrong, with the number of leading frames
// that are still alike (compared up to there).
struct PlaybackFault {
    const char* file;
    int frames_alike;
    const char* reason;
};
const PlaybackFault kPlaybackFaults[] = {
    {"pillow__no_palette_with_transparency_after_rgb.gif", 1,
     "frame 2 has no graphic control extension; playback disposes frame 1 to the background"},
    {"pillow__test_extents.gif", 1, "frame 2 reaches outside the screen; playback is cut before it"},
    {"pillow__decompression_bomb_extents.gif", 1, "frame 2 lies at 65535,65535; playback is cut before it"},
    {"wuffs__artificial__frame-out-of-bounds.gif", 0, "every frame reaches outside the screen"},
};

TEST(ComposerCorpus, EveryFileGivesThePlaybackFrames) {
    KESTRUNE_REQUIRE_CORPUS();
    formats_test::InitLibraries();
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(testing_support::CorpusDir()))
        if (entry.path().extension() == ".gif") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 50u);
    int composed = 0, frames = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        const std::string bytes = testing_support::ReadFileBytes(path);
        const long long pixels =
            bytes.size() >= 10 ? static_cast<long long>((unsigned char)bytes[6] | (unsigned char)bytes[7] << 8) *
                                     ((unsigned char)bytes[8] | (unsigned char)bytes[9] << 8)
                               : 0;
#if defined(__SANITIZE_ADDRESS__)
        // The playback reference replays from a key frame for every page, so
        // the two long animations take many minutes under the sanitizers;
        // the normal build compares them.
        if (path.find("sample_big") != std::string::npos || path.find("muybridge") != std::string::npos)
            continue;
#endif
        if (pixels > kMaxScreenPixels) {
            EXPECT_EQ(OpenFrameSource(path).frame_count, 0);
            continue;  // the reference would ask for gigabytes
        }
        const std::string name = std::filesystem::path(path).filename().string();
        const auto fault = std::find_if(std::begin(kPlaybackFaults), std::end(kPlaybackFaults),
                                        [&](const PlaybackFault& f) { return name == f.file; });
        if (fault != std::end(kPlaybackFaults)) {
            FrameSource fast = OpenFrameSource(path);
            testing_support::PlaybackFrames reference = testing_support::OpenPlaybackFrames(path);
            ASSERT_GE(reference.frame_count, fault->frames_alike);
            bool differs = fast.frame_count != reference.frame_count;
            for (int i = 0; i < std::min(fast.frame_count, reference.frame_count); ++i) {
                Bitmap a = TakeFrame(fast, i);
                Bitmap b = testing_support::TakePlaybackFrame(reference, i);
                const std::string d = Difference(a.get(), b.get());
                if (i < fault->frames_alike) {
                    EXPECT_EQ(d, "") << "frame " << i;
                }
                differs = differs || !d.empty();
            }
            EXPECT_TRUE(differs) << "listed (" << fault->reason << "), but playback gives the same frames";
            continue;
        }
        const Comparison c = ExpectSameFrames(path);
        composed += c.composed;
        frames += c.frames;
    }
    std::cout << "[ corpus ] " << composed << " of " << files.size() << " files compared with playback, "
              << frames << " frames\n";
}

}  // namespace
