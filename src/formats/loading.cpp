#include "formats/loading.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace kestrune {

namespace {

// One generator per worker thread, seeded from the clock on first use: the
// choice only has to be uniform, not reproducible.
std::mt19937& FrameGenerator() {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

// ---------------------------------------------------------------------------
// The block structure, read the way FreeImage's GIF reader reads it.

constexpr int kDisposalBackground = 2;
constexpr int kDisposalPrevious = 3;

struct GifPage {
    size_t descriptor = 0;  // offset just after the 0x2C introducer
    unsigned left = 0, top = 0, width = 0, height = 0;
    // Disposal and transparency flag as the playback reads them. A page
    // without a graphic control extension has offset 0 there, and playback
    // reads "its" flags from byte 1 of the file, the 'I' of "GIF" (0x49):
    // disposal "background" with the transparency flag set. Composing the
    // same way keeps the frames identical for such files.
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

unsigned Word(const BYTE* p) { return p[0] | p[1] << 8; }

bool ScreenTooLarge(const std::vector<BYTE>& file) {
    if (file.size() < 10) return false;  // not a GIF; the decoder refuses it
    return static_cast<long long>(Word(&file[6])) * Word(&file[8]) > kMaxScreenPixels;
}

// The pages FreeImage finds when it opens the file: the same signature
// check, the same walk, stopping at the trailer, and nothing at all when the
// walk runs off the end or meets an unknown block (FreeImage then gives no
// pages either). Seeks may pass the end; only reads fail there, as with a
// file handle.
std::optional<GifLayout> ScanGif(const std::vector<BYTE>& file) {
    const size_t size = file.size();
    if (size < 6 || std::memcmp(file.data(), "GIF", 3) != 0) return std::nullopt;
    if (file[3] < '0' || file[3] > '9' || file[4] < '0' || file[4] > '9' || file[5] < 'a' ||
        file[5] > 'z')
        return std::nullopt;
    size_t pos = 10;
    auto read = [&](BYTE& b) {
        if (pos >= size) return false;
        b = file[pos++];
        return true;
    };
    GifLayout layout;
    BYTE packed = 0, background = 0;
    if (!read(packed) || !read(background)) return std::nullopt;
    layout.screen_width = Word(&file[6]);
    layout.screen_height = Word(&file[8]);
    layout.background_index = background;
    pos += 1;
    if (packed & 0x80) {
        layout.global_palette = pos;
        layout.global_size = 2 << (packed & 7);
        pos += 3 * static_cast<size_t>(layout.global_size);
    }
    std::vector<size_t> controls;
    size_t control = 0;
    BYTE block = 0;
    while (block != 0x3B) {
        if (!read(block)) return std::nullopt;
        if (block == 0x2C) {
            GifPage page;
            page.descriptor = pos;
            layout.pages.push_back(page);
            controls.push_back(control);
            control = 0;
            pos += 8;
            if (!read(packed)) return std::nullopt;
            if (packed & 0x80) pos += 3 * (static_cast<size_t>(2) << (packed & 7));
            pos += 1;  // LZW minimum code size
        } else if (block == 0x21) {
            BYTE label = 0;
            if (!read(label)) return std::nullopt;
            if (label == 0xF9) control = pos;  // a later one replaces an earlier one
        } else if (block == 0x3B) {
            continue;
        } else {
            return std::nullopt;
        }
        BYTE length = 0;
        if (!read(length)) return std::nullopt;
        while (length != 0) {
            pos += length;
            if (!read(length)) return std::nullopt;
        }
    }
    for (size_t i = 0; i < layout.pages.size(); ++i) {
        GifPage& page = layout.pages[i];
        // Both reads stay inside the bytes the walk above has already read.
        if (page.descriptor + 8 > size || controls[i] + 1 >= size) return std::nullopt;
        const BYTE* d = &file[page.descriptor];
        page.left = Word(d);
        page.top = Word(d + 2);
        page.width = Word(d + 4);
        page.height = Word(d + 6);
        const BYTE flags = file[controls[i] + 1];
        page.disposal = (flags & 0x1C) >> 2;
        page.flagged_transparent = (flags & 1) != 0;
    }
    return layout;
}

// FreeImage's playback composes each frame into a canvas of the logical
// screen without clipping the frame rectangle, so a frame reaching past the
// screen writes beyond the canvas (heap corruption). Only the leading frames
// that lie wholly inside the screen are handed out, by either route.
int FramesInsideScreen(const GifLayout& layout) {
    int frames = 0;
    for (const GifPage& p : layout.pages) {
        if (p.left + p.width > layout.screen_width || p.top + p.height > layout.screen_height)
            break;
        ++frames;
    }
    return frames;
}

bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat info {};
    bool ok = fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              info.st_size <= INT_MAX;  // FreeImage's memory streams use 32-bit offsets
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    std::fclose(f);
    return ok;
}

// How many leading frames may be handed to FreeImage's playback, 0 for a
// screen over the limit.
int PlayableFrames(const std::string& path) {
    std::vector<BYTE> file;
    if (!ReadWholeFile(path, file) || ScreenTooLarge(file)) return 0;
    const std::optional<GifLayout> layout = ScanGif(file);
    return layout ? FramesInsideScreen(*layout) : 0;
}

RGBQUAD PlaybackBackground(const std::vector<BYTE>& file, const GifLayout& layout) {
    // The screen's background colour, never opaque: uncovered pixels of a
    // frame stay transparent.
    RGBQUAD c{};
    if (layout.global_palette != 0 && static_cast<int>(layout.background_index) < layout.global_size) {
        const size_t at = layout.global_palette + layout.background_index * 3;
        if (at + 3 <= file.size()) {
            c.rgbRed = file[at];
            c.rgbGreen = file[at + 1];
            c.rgbBlue = file[at + 2];
        }
    }
    c.rgbReserved = 0;
    return c;
}

}  // namespace

// ---------------------------------------------------------------------------
// The one-pass composer.
//
// FreeImage's playback builds frame t from a background canvas by replaying
// pages s..t, where s is found by walking back from t - 1 to the latest
// full-screen page that disposes to the background (s is the page after it)
// or that is kept and not flagged transparent (s is that page). Of the pages
// before t, one restoring the previous image is skipped, one disposing to the
// background only clears its rectangle, any other is drawn. Carrying the
// canvas forward gives the same frames: after page k it is
//   - unchanged when k restores the previous image,
//   - k's rectangle cleared when k disposes to the background,
//   - the background with k drawn on it when k is such a full-screen "key"
//     page (drawing k already covers all of it unless k failed to decode),
//   - the canvas with k drawn on it otherwise.

struct GifComposer {
    std::vector<BYTE> file;
    MemoryStream stream;   // reads `file` in place
    MultiBitmap pages;     // raw pages; closed before the stream (declared after it)
    GifLayout layout;
    RGBQUAD background{};
    Bitmap canvas;         // the screen as frame `next` finds it
    int next = 0;
    FITAG* frame_time = nullptr;  // a "FrameTime" tag to stamp frames with

    ~GifComposer() {
        if (frame_time) FreeImage_DeleteTag(frame_time);
    }

    const GifPage& Page(int k) const { return layout.pages[static_cast<size_t>(k)]; }

    bool IsKey(int k) const {
        const GifPage& p = Page(k);
        if (p.left != 0 || p.top != 0 || p.width != layout.screen_width ||
            p.height != layout.screen_height)
            return false;
        if (p.disposal == kDisposalBackground) return true;
        return p.disposal != kDisposalPrevious && !p.flagged_transparent;
    }

    // Raw page k, 8 bits with its palette, read in place and unlocked when
    // done; empty when FreeImage cannot give it or it does not have the size
    // of its descriptor.
    struct LockedPage {
        FIMULTIBITMAP* pages = nullptr;
        FIBITMAP* page = nullptr;
        LockedPage(FIMULTIBITMAP* p, FIBITMAP* locked) : pages(p), page(locked) {}
        LockedPage(const LockedPage&) = delete;
        LockedPage& operator=(const LockedPage&) = delete;
        ~LockedPage() {
            if (page) FreeImage_UnlockPage(pages, page, FALSE);
        }
        FIBITMAP* get() const { return usable ? page : nullptr; }
        explicit operator bool() const { return get() != nullptr; }
        bool usable = false;
    };

    std::unique_ptr<LockedPage> LoadPage(int k) {
        auto locked = std::make_unique<LockedPage>(pages.get(), FreeImage_LockPage(pages.get(), k));
        const GifPage& p = Page(k);
        FIBITMAP* page = locked->page;
        locked->usable = page && FreeImage_GetBPP(page) == 8 && FreeImage_GetWidth(page) == p.width &&
                         FreeImage_GetHeight(page) == p.height;
        return locked;
    }

    void FillRect(FIBITMAP* dst, unsigned left, unsigned top, unsigned width, unsigned height) const {
        const int screen_height = static_cast<int>(layout.screen_height);
        for (unsigned y = 0; y < height; ++y) {
            const int row = screen_height - static_cast<int>(y + top) - 1;
            if (row < 0) break;
            RGBQUAD* line = reinterpret_cast<RGBQUAD*>(FreeImage_GetScanLine(dst, row)) + left;
            std::fill(line, line + width, background);
        }
    }

    void FillAll(FIBITMAP* dst) const {
        FillRect(dst, 0, 0, layout.screen_width, layout.screen_height);
    }

    // Page k over dst: every pixel but the transparent index, fully opaque.
    void Draw(FIBITMAP* dst, FIBITMAP* page, int k) const {
        const GifPage& p = Page(k);
        int transparent = -1;
        if (FreeImage_IsTransparent(page)) {
            const int count = static_cast<int>(FreeImage_GetTransparencyCount(page));
            const BYTE* table = FreeImage_GetTransparencyTable(page);
            for (int i = 0; i < count; ++i) {
                if (table[i] == 0) {
                    transparent = i;
                    break;
                }
            }
        }
        uint32_t colours[256];
        const RGBQUAD* palette = FreeImage_GetPalette(page);
        for (int i = 0; i < 256; ++i) {
            RGBQUAD c = palette[i];
            c.rgbReserved = 255;
            std::memcpy(&colours[i], &c, sizeof c);
        }
        const int screen_height = static_cast<int>(layout.screen_height);
        for (unsigned y = 0; y < p.height; ++y) {
            const int row = screen_height - static_cast<int>(y + p.top) - 1;
            if (row < 0) break;
            uint32_t* out = reinterpret_cast<uint32_t*>(FreeImage_GetScanLine(dst, row)) + p.left;
            const BYTE* in = FreeImage_GetScanLine(page, static_cast<int>(p.height - y - 1));
            if (transparent < 0) {
                for (unsigned x = 0; x < p.width; ++x) out[x] = colours[in[x]];
            } else {
                for (unsigned x = 0; x < p.width; ++x)
                    if (in[x] != transparent) out[x] = colours[in[x]];
            }
        }
    }

    // The canvas after page k, for a frame that is not handed out.
    void Pass(int k) {
        const GifPage& p = Page(k);
        if (p.disposal == kDisposalPrevious) return;
        if (p.disposal == kDisposalBackground) {
            FillRect(canvas.get(), p.left, p.top, p.width, p.height);
            return;
        }
        const auto page = LoadPage(k);
        if (*page) {
            Draw(canvas.get(), page->get(), k);
        } else if (IsKey(k)) {
            FillAll(canvas.get());
        }
    }

    void StampFrameTime(FIBITMAP* frame, FIBITMAP* page) {
        FITAG* tag = nullptr;
        if (page && FreeImage_GetMetadata(FIMD_ANIMATION, page, "FrameTime", &tag) && tag) {
            if (!frame_time) frame_time = FreeImage_CloneTag(tag);
            FreeImage_SetMetadata(FIMD_ANIMATION, frame, "FrameTime", tag);
            return;
        }
        // Playback gives 0 ms for a page it could not decode.
        LONG zero = 0;
        if (!frame_time) {
            frame_time = FreeImage_CreateTag();
            if (!frame_time) return;
            FreeImage_SetTagKey(frame_time, "FrameTime");
            FreeImage_SetTagType(frame_time, FIDT_LONG);
            FreeImage_SetTagCount(frame_time, 1);
            FreeImage_SetTagLength(frame_time, 4);
        }
        FreeImage_SetTagValue(frame_time, &zero);
        FreeImage_SetMetadata(FIMD_ANIMATION, frame, "FrameTime", frame_time);
    }

    Bitmap Take(int index) {
        if (!canvas) return Bitmap();
        if (index < next) {
            FillAll(canvas.get());
            next = 0;
        }
        // Nothing before the latest key page matters (see above).
        for (int k = index - 1; k >= next; --k) {
            if (IsKey(k)) {
                FillAll(canvas.get());
                next = Page(k).disposal == kDisposalBackground ? k + 1 : k;
                break;
            }
        }
        for (; next < index; ++next) Pass(next);

        const GifPage& p = Page(index);
        const auto page = LoadPage(index);
        Bitmap frame;
        const bool kept = p.disposal != kDisposalPrevious && p.disposal != kDisposalBackground;
        if (*page && kept) {
            // The canvas after this page is the frame itself.
            Draw(canvas.get(), page->get(), index);
            frame.reset(FreeImage_Clone(canvas.get()));
        } else {
            frame.reset(FreeImage_Clone(canvas.get()));
            if (frame && *page) Draw(frame.get(), page->get(), index);
            if (p.disposal == kDisposalBackground) {
                FillRect(canvas.get(), p.left, p.top, p.width, p.height);
            } else if (kept && IsKey(index)) {
                FillAll(canvas.get());
            }
        }
        next = index + 1;
        if (frame) StampFrameTime(frame.get(), page->get());
        return frame;
    }
};

void GifComposerDeleter::operator()(GifComposer* composer) const { delete composer; }

namespace {

// The composer for this file, or nothing when the file is left to the
// playback pages (unreadable, not walkable the way FreeImage walks it, or
// FreeImage disagreeing about the pages).
std::unique_ptr<GifComposer, GifComposerDeleter> OpenComposer(std::vector<BYTE> file,
                                                              int& frame_count) {
    std::unique_ptr<GifComposer, GifComposerDeleter> c(new GifComposer);
    c->file = std::move(file);
    std::optional<GifLayout> layout = ScanGif(c->file);
    if (!layout) return nullptr;
    c->layout = std::move(*layout);
    c->stream.reset(FreeImage_OpenMemory(c->file.data(), static_cast<DWORD>(c->file.size())));
    if (!c->stream) return nullptr;
    // GIF_LOAD256 gives every raw page at 8 bits with a 256-entry palette,
    // the form playback composes from.
    c->pages.reset(FreeImage_LoadMultiBitmapFromMemory(FIF_GIF, c->stream.get(), GIF_LOAD256));
    if (!c->pages) return nullptr;
    if (FreeImage_GetPageCount(c->pages.get()) != static_cast<int>(c->layout.pages.size()))
        return nullptr;
    c->background = PlaybackBackground(c->file, c->layout);
    frame_count = FramesInsideScreen(c->layout);
    if (frame_count > 0) {
        // Allocated as playback allocates its frames, so the bitmaps match
        // in every header field too.
        c->canvas.reset(FreeImage_Allocate(static_cast<int>(c->layout.screen_width),
                                           static_cast<int>(c->layout.screen_height), 32));
        if (c->canvas) c->FillAll(c->canvas.get());
    }
    return c;
}

}  // namespace

FrameSource OpenPlaybackFrameSource(const std::string& path) {
    FrameSource source;
    const int playable = PlayableFrames(path);
    // Playback mode hands out every page as the composed animation frame
    // (32 bits, disposal and transparency applied) instead of the raw
    // sub-image.
    source.multi.reset(FreeImage_OpenMultiBitmap(FIF_GIF, path.c_str(), FALSE, TRUE, TRUE,
                                                 GIF_PLAYBACK));
    if (source.multi) {
        const int pages = FreeImage_GetPageCount(source.multi.get());
        source.frame_count = std::max(0, std::min(pages, playable));
        // A handle with no pages is a failed file; the single load is only
        // the fallback for an open that gave no handle at all.
        return source;
    }
    if (playable > 0) source.single.reset(FreeImage_Load(FIF_GIF, path.c_str(), GIF_PLAYBACK));
    source.frame_count = source.single ? 1 : 0;
    return source;
}

FrameSource OpenFrameSource(const std::string& path) {
    std::vector<BYTE> file;
    if (ReadWholeFile(path, file)) {
        if (ScreenTooLarge(file)) return FrameSource();
        FrameSource source;
        source.composer = OpenComposer(std::move(file), source.frame_count);
        if (source.composer) return source;
    }
    return OpenPlaybackFrameSource(path);
}

std::pair<int, int> SelectFrameRange(int count, int code) {
    if (count < 1) count = 1;
    switch (code) {
        case 1:  // FIRST
            return {0, 0};
        case 2: {  // MIDDLE: the earlier of the two middle frames of an even count
            const int m = (count + 1) / 2;
            return {m - 1, m - 1};
        }
        case 3:  // LAST
            return {count - 1, count - 1};
        case 4: {  // RANDOM
            std::uniform_int_distribution<int> draw(1, count);
            const int r = draw(FrameGenerator());
            return {r - 1, r - 1};
        }
        default:  // ALL, and any unknown code
            return {0, count - 1};
    }
}

Bitmap TakeFrame(FrameSource& source, int index) {
    if (source.composer) {
        if (index < 0 || index >= source.frame_count) return Bitmap();
        return source.composer->Take(index);
    }
    if (source.multi) {
        if (index < 0 || index >= source.frame_count) return Bitmap();
        FIBITMAP* page = FreeImage_LockPage(source.multi.get(), index);
        if (!page) return Bitmap();
        // The page stays with the multi-page bitmap; the caller gets a copy
        // it may change and release.
        Bitmap frame(FreeImage_Clone(page));
        FreeImage_UnlockPage(source.multi.get(), page, FALSE);
        return frame;
    }
    if (index != 0) return Bitmap();
    return std::move(source.single);
}

void CloseFrameSource(FrameSource& source) {
    source.multi.reset();
    source.single.reset();
    source.composer.reset();
}

}  // namespace kestrune
