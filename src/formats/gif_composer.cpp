#include "formats/gif_composer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrune {

namespace {

constexpr int kDisposalBackground = 2;
constexpr int kDisposalPrevious = 3;

unsigned Word(const BYTE* p) { return p[0] | p[1] << 8; }

}  // namespace

bool ScreenTooLarge(const std::vector<BYTE>& file) {
    if (file.size() < 10) return false;  // not a GIF; the walk refuses it
    return static_cast<long long>(Word(&file[6])) * Word(&file[8]) > kMaxScreenPixels;
}

namespace {

// "GIF" and a version of two digits and a letter ("87a", "89a").
bool HasGifSignature(const std::vector<BYTE>& file) {
    if (file.size() < 6 || std::memcmp(file.data(), "GIF", 3) != 0) return false;
    return file[3] >= '0' && file[3] <= '9' && file[4] >= '0' && file[4] <= '9' && file[5] >= 'a' &&
           file[5] <= 'z';
}

// The page's rectangle from its image descriptor, and its disposal and
// transparency flag from the graphic control block before it.
void ReadPageFields(const std::vector<BYTE>& file, GifPage& page) {
    // Every byte read here lies before `end`, which the walk has read.
    const BYTE* d = &file[page.descriptor + 1];
    page.left = Word(d);
    page.top = Word(d + 2);
    page.width = Word(d + 4);
    page.height = Word(d + 6);
    // Introducer, label, block size, flags: a block of at least one byte
    // carries the flags; an empty one specifies nothing.
    if (page.control != 0 && file[page.control + 2] >= 1) {
        const BYTE flags = file[page.control + 3];
        page.disposal = (flags & 0x1C) >> 2;
        page.flagged_transparent = (flags & 1) != 0;
    }
}

}  // namespace

std::optional<GifLayout> ScanGif(const std::vector<BYTE>& file) {
    if (!HasGifSignature(file)) return std::nullopt;
    const size_t size = file.size();
    // Seeks may pass the end; only reads fail there, as with a file handle.
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
    size_t control = 0, control_end = 0;
    BYTE block = 0;
    while (block != 0x3B) {
        const size_t start = pos;
        if (!read(block)) return std::nullopt;
        GifPage* page = nullptr;
        bool is_control = false;
        if (block == 0x2C) {
            layout.pages.emplace_back();
            page = &layout.pages.back();
            page->descriptor = start;
            page->control = control;
            page->control_end = control_end;
            control = control_end = 0;
            pos += 8;
            if (!read(packed)) return std::nullopt;
            if (packed & 0x80) pos += 3 * (static_cast<size_t>(2) << (packed & 7));
            pos += 1;  // LZW minimum code size
        } else if (block == 0x21) {
            BYTE label = 0;
            if (!read(label)) return std::nullopt;
            is_control = label == 0xF9;  // a later one replaces an earlier one
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
        if (page) page->end = pos;
        if (is_control) {
            control = start;
            control_end = pos;
        }
    }
    for (GifPage& page : layout.pages) ReadPageFields(file, page);
    return layout;
}

// ---------------------------------------------------------------------------
// Composing.
//
// The canvas is carried from frame to frame: after page k it is
//   - unchanged when k restores the previous image,
//   - k's rectangle cleared when k disposes to the background,
//   - the canvas with k drawn on it otherwise (no disposal, "not specified"
//     and the reserved values 4 to 7 alike, as is a page without a graphic
//     control extension).
// A full-screen "key" page (kept and opaque, or disposing to the background)
// hides everything before it, so going to a later frame starts there.
// Pages are clipped to the logical screen; a page wholly outside it changes
// nothing but is still a frame.

std::unique_ptr<GifComposer> GifComposer::Open(std::vector<BYTE> file) {
    std::optional<GifLayout> layout = ScanGif(file);
    if (!layout || layout->pages.empty()) return nullptr;
    std::unique_ptr<GifComposer> c(new GifComposer);
    c->file_ = std::move(file);
    c->layout_ = std::move(*layout);
    // The screen's background colour, never opaque: uncovered pixels of a
    // frame stay transparent.
    const GifLayout& l = c->layout_;
    if (l.global_palette != 0 && static_cast<int>(l.background_index) < l.global_size) {
        const size_t at = l.global_palette + l.background_index * 3;
        if (at + 3 <= c->file_.size()) {
            c->background_.rgbRed = c->file_[at];
            c->background_.rgbGreen = c->file_[at + 1];
            c->background_.rgbBlue = c->file_[at + 2];
        }
    }
    c->background_.rgbReserved = 0;
    c->canvas_.reset(FreeImage_Allocate(static_cast<int>(l.screen_width), static_cast<int>(l.screen_height), 32));
    if (c->canvas_) c->FillAll(c->canvas_.get());
    return c;
}

GifComposer::~GifComposer() {
    if (frame_time_) FreeImage_DeleteTag(frame_time_);
}

bool GifComposer::IsKey(int k) const {
    const GifPage& p = Page(k);
    if (p.left != 0 || p.top != 0 || p.width != layout_.screen_width || p.height != layout_.screen_height)
        return false;
    if (p.disposal == kDisposalBackground) return true;
    return p.disposal != kDisposalPrevious && !p.flagged_transparent;
}

// Page k alone, 8 bits with its palette, or empty when it cannot be decoded.
// It is cut out of the file with the header, the global palette and its own
// control extension into a one-image GIF that FreeImage decodes: FreeImage's
// reader walks the whole file for any page it loads, so handing it the
// original file would cost time in proportion to the frame count per page.
Bitmap GifComposer::DecodePage(int k) const {
    const GifPage& p = Page(k);
    // Pages are decoded whole before clipping: one larger than the screen
    // limit is not decoded at all.
    if (static_cast<long long>(p.width) * p.height > kMaxScreenPixels) return Bitmap();
    std::vector<BYTE> one;
    const size_t head = layout_.global_palette != 0
                            ? layout_.global_palette + 3 * static_cast<size_t>(layout_.global_size)
                            : 13;
    const size_t page_bytes = std::min(p.end, file_.size()) - p.descriptor;
    one.reserve(head + (p.control_end - p.control) + page_bytes + 1);
    one.insert(one.end(), file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(std::min(head, file_.size())));
    one.resize(head, 0);  // a global palette cut short reads as zeros
    if (p.control != 0)
        one.insert(one.end(), file_.begin() + static_cast<std::ptrdiff_t>(p.control),
                   file_.begin() + static_cast<std::ptrdiff_t>(p.control_end));
    one.insert(one.end(), file_.begin() + static_cast<std::ptrdiff_t>(p.descriptor),
               file_.begin() + static_cast<std::ptrdiff_t>(p.descriptor + page_bytes));
    one.push_back(0x3B);
    MemoryStream stream(FreeImage_OpenMemory(one.data(), static_cast<DWORD>(one.size())));
    if (!stream) return Bitmap();
    // GIF_LOAD256: the raw page at 8 bits with a 256-entry palette.
    Bitmap page(FreeImage_LoadFromMemory(FIF_GIF, stream.get(), GIF_LOAD256));
    if (!page || FreeImage_GetBPP(page.get()) != 8 || FreeImage_GetWidth(page.get()) != p.width ||
        FreeImage_GetHeight(page.get()) != p.height)
        return Bitmap();
    return page;
}

void GifComposer::FillRect(FIBITMAP* dst, unsigned left, unsigned top, unsigned width, unsigned height) const {
    if (left >= layout_.screen_width || top >= layout_.screen_height) return;
    width = std::min(width, layout_.screen_width - left);
    height = std::min(height, layout_.screen_height - top);
    for (unsigned y = 0; y < height; ++y) {
        const int row = static_cast<int>(layout_.screen_height - (y + top) - 1);
        RGBQUAD* line = reinterpret_cast<RGBQUAD*>(FreeImage_GetScanLine(dst, row)) + left;
        std::fill(line, line + width, background_);
    }
}

void GifComposer::FillAll(FIBITMAP* dst) const { FillRect(dst, 0, 0, layout_.screen_width, layout_.screen_height); }

// Page k over dst, clipped to the screen: every pixel but the transparent
// index, fully opaque.
void GifComposer::Draw(FIBITMAP* dst, FIBITMAP* page, int k) const {
    const GifPage& p = Page(k);
    if (p.left >= layout_.screen_width || p.top >= layout_.screen_height) return;
    const unsigned width = std::min(p.width, layout_.screen_width - p.left);
    const unsigned height = std::min(p.height, layout_.screen_height - p.top);
    int transparent = -1;
    // Without a control extension no colour is transparent, whatever
    // FreeImage makes of the missing block.
    if (p.control != 0 && FreeImage_IsTransparent(page)) {
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
    for (unsigned y = 0; y < height; ++y) {
        const int row = static_cast<int>(layout_.screen_height - (y + p.top) - 1);
        uint32_t* out = reinterpret_cast<uint32_t*>(FreeImage_GetScanLine(dst, row)) + p.left;
        const BYTE* in = FreeImage_GetScanLine(page, static_cast<int>(p.height - y - 1));
        if (transparent < 0) {
            for (unsigned x = 0; x < width; ++x) out[x] = colours[in[x]];
        } else {
            for (unsigned x = 0; x < width; ++x)
                if (in[x] != transparent) out[x] = colours[in[x]];
        }
    }
}

// The canvas after page k, for a frame that is not handed out.
void GifComposer::Pass(int k) {
    const GifPage& p = Page(k);
    if (p.disposal == kDisposalPrevious) return;
    if (p.disposal == kDisposalBackground) {
        FillRect(canvas_.get(), p.left, p.top, p.width, p.height);
        return;
    }
    const Bitmap page = DecodePage(k);
    if (page) {
        Draw(canvas_.get(), page.get(), k);
    } else if (IsKey(k)) {
        FillAll(canvas_.get());
    }
}

void GifComposer::StampFrameTime(FIBITMAP* frame, FIBITMAP* page) {
    FITAG* tag = nullptr;
    if (page && FreeImage_GetMetadata(FIMD_ANIMATION, page, "FrameTime", &tag) && tag) {
        if (!frame_time_) frame_time_ = FreeImage_CloneTag(tag);
        FreeImage_SetMetadata(FIMD_ANIMATION, frame, "FrameTime", tag);
        return;
    }
    // 0 ms for a page that could not be decoded or that specifies no delay.
    LONG zero = 0;
    if (!frame_time_) {
        frame_time_ = FreeImage_CreateTag();
        if (!frame_time_) return;
        FreeImage_SetTagKey(frame_time_, "FrameTime");
        FreeImage_SetTagType(frame_time_, FIDT_LONG);
        FreeImage_SetTagCount(frame_time_, 1);
        FreeImage_SetTagLength(frame_time_, 4);
    }
    FreeImage_SetTagValue(frame_time_, &zero);
    FreeImage_SetMetadata(FIMD_ANIMATION, frame, "FrameTime", frame_time_);
}

Bitmap GifComposer::Take(int index) {
    if (!canvas_ || index < 0 || index >= FrameCount()) return Bitmap();
    if (index < next_) {
        FillAll(canvas_.get());
        next_ = 0;
    }
    // Nothing before the latest key page matters (see above).
    for (int k = index - 1; k >= next_; --k) {
        if (IsKey(k)) {
            FillAll(canvas_.get());
            next_ = Page(k).disposal == kDisposalBackground ? k + 1 : k;
            break;
        }
    }
    for (; next_ < index; ++next_) Pass(next_);

    const GifPage& p = Page(index);
    const Bitmap page = DecodePage(index);
    Bitmap frame;
    const bool kept = p.disposal != kDisposalPrevious && p.disposal != kDisposalBackground;
    if (page && kept) {
        // The canvas after this page is the frame itself.
        Draw(canvas_.get(), page.get(), index);
        frame.reset(FreeImage_Clone(canvas_.get()));
    } else {
        frame.reset(FreeImage_Clone(canvas_.get()));
        if (frame && page) Draw(frame.get(), page.get(), index);
        if (p.disposal == kDisposalBackground) {
            FillRect(canvas_.get(), p.left, p.top, p.width, p.height);
        } else if (kept && IsKey(index)) {
            FillAll(canvas_.get());
        }
    }
    next_ = index + 1;
    if (frame) StampFrameTime(frame.get(), p.control != 0 ? page.get() : nullptr);
    return frame;
}

}  // namespace kestrune
