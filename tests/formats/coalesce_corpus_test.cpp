// Every frame of every corpus GIF against ImageMagick's coalesced frames, an
// independent decoder: same size, same count, the same pixels wherever
// either decoder shows something (the colour under a fully transparent
// pixel is nobody's business).
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "formats/loading.h"
#include "formats_support.h"

using namespace kestrune;

namespace {

// Files where the two decoders follow different conventions, and why. Each
// must really differ under the plain comparison, or its entry has gone stale.
struct Convention {
    const char* file;
    // Screen area that no frame covers is transparent here and opaque
    // background colour in ImageMagick: such files are compared with our
    // transparent pixels taken as opaque. Otherwise the file is not compared.
    bool uncovered_is_background;
    const char* reason;
};
const Convention kConventions[] = {
    {"wuffs__artificial__background-color.gif", true, "frames smaller than the screen, disposed to the background"},
    {"wuffs__artificial__frame-out-of-bounds.gif", true, "frames partly off the screen leave parts of it uncovered"},
    {"wuffs__artificial__metadata-empty.gif", true, "one 1 x 1 frame on a 2 x 2 screen"},
    {"wuffs__artificial__metadata-full.gif", true, "one 1 x 1 frame on a 2 x 2 screen"},
    {"wuffs__artificial__multiple-loop-counts.gif", true, "frames smaller than the screen"},
    {"wuffs__artificial__small-frame-interlaced.gif", true, "one 1 x 1 frame on a 5 x 5 screen"},
    {"wuffs__bricks-gray.gif", false,
     "ImageMagick takes its own application extension in the file as linear grey and gamma-corrects the palette "
     "on output (0x55 becomes 156); GraphicsMagick and FreeImage give the palette values"},
};

struct Frames {
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> rgba;  // top row first
};

std::string Quoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// ImageMagick's coalesced frames as raw RGBA; no frames when it refuses the
// file.
Frames ImageMagickFrames(const std::string& path, int width, int height) {
    Frames f;
    f.width = width;
    f.height = height;
    const std::string command = "convert " + Quoted(path) + " -coalesce -depth 8 RGBA:- 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return f;
    std::vector<uint8_t> all;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) all.insert(all.end(), buffer, buffer + n);
    const int status = pclose(pipe);
    const size_t frame_bytes = static_cast<size_t>(width) * height * 4;
    if (status != 0 || frame_bytes == 0) return f;
    for (size_t at = 0; at + frame_bytes <= all.size(); at += frame_bytes)
        f.rgba.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                            all.begin() + static_cast<std::ptrdiff_t>(at + frame_bytes));
    return f;
}

// "" when alike, else the first pixel that differs.
std::string Compare(FIBITMAP* ours, const std::vector<uint8_t>& theirs, int width, int height,
                    bool uncovered_is_background) {
    if (!ours) return "no frame here";
    if (static_cast<int>(FreeImage_GetWidth(ours)) != width || static_cast<int>(FreeImage_GetHeight(ours)) != height)
        return "size";
    for (int y = 0; y < height; ++y) {
        const BYTE* row = FreeImage_GetScanLine(ours, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            BYTE a[4];
            std::memcpy(a, row + 4 * x, 4);
            const uint8_t* b = &theirs[(static_cast<size_t>(y) * width + x) * 4];
            if (a[FI_RGBA_ALPHA] == 0 && b[3] == 0) continue;
            if (uncovered_is_background && a[FI_RGBA_ALPHA] == 0) a[FI_RGBA_ALPHA] = 255;
            if (a[FI_RGBA_RED] != b[0] || a[FI_RGBA_GREEN] != b[1] || a[FI_RGBA_BLUE] != b[2] ||
                a[FI_RGBA_ALPHA] != b[3]) {
                char text[160];
                std::snprintf(text, sizeof text, "pixel (%d, %d): (%d,%d,%d,%d) vs ImageMagick (%d,%d,%d,%d)", x, y,
                              a[FI_RGBA_RED], a[FI_RGBA_GREEN], a[FI_RGBA_BLUE], a[FI_RGBA_ALPHA], b[0], b[1], b[2],
                              b[3]);
                return text;
            }
        }
    }
    return "";
}

TEST(CoalesceCorpus, EveryFrameMatchesImageMagick) {
    KESTRUNE_REQUIRE_CORPUS();
    formats_test::InitLibraries();
    ASSERT_EQ(std::system("convert -version >/dev/null 2>&1"), 0) << "ImageMagick's convert is needed";
    std::map<std::string, const Convention*> conventions;
    for (const Convention& c : kConventions) conventions[c.file] = &c;

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(testing_support::CorpusDir()))
        if (entry.path().extension() == ".gif") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 50u);
    int compared_files = 0, compared_frames = 0;
    for (const std::string& path : files) {
        const std::string name = std::filesystem::path(path).filename().string();
        SCOPED_TRACE(name);
        FrameSource source = OpenFrameSource(path);
        if (source.frame_count == 0) continue;
        Bitmap first = TakeFrame(source, 0);
        const int width = WidthOf(first), height = HeightOf(first);
        const Frames theirs = ImageMagickFrames(path, width, height);
        if (theirs.rgba.empty()) continue;  // only one of the two decodes it
        EXPECT_EQ(source.frame_count, static_cast<int>(theirs.rgba.size())) << "frame count";
        const auto known = conventions.find(name);
        const Convention* convention = known != conventions.end() ? known->second : nullptr;
        const int count = std::min(source.frame_count, static_cast<int>(theirs.rgba.size()));
        bool differs = false;
        for (int i = 0; i < count; ++i) {
            Bitmap ours = i == 0 ? std::move(first) : TakeFrame(source, i);
            const std::vector<uint8_t>& frame = theirs.rgba[static_cast<size_t>(i)];
            const std::string plain = Compare(ours.get(), frame, width, height, false);
            differs = differs || !plain.empty();
            if (!convention) {
                EXPECT_EQ(plain, "") << "frame " << i;
            } else if (convention->uncovered_is_background) {
                EXPECT_EQ(Compare(ours.get(), frame, width, height, true), "") << "frame " << i;
            } else {
                continue;
            }
            ++compared_frames;
        }
        if (convention) {
            EXPECT_TRUE(differs) << "listed (" << convention->reason << "), but every frame is alike";
        }
        ++compared_files;
    }
    std::cout << "[ corpus ] " << compared_frames << " frames of " << compared_files
              << " files alike in both decoders\n";
}

}  // namespace
