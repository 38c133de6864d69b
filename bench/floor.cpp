// The floor the converter is measured against: bare FreeImage (and Cairo/Pango
// for the watermark job) doing only the work of a job. Each file is read
// once, its raw pages decoded once from memory and composed on one carried
// canvas (FreeImage's playback rules), and every frame written.
// Usage: bench_floor png|jpg|png-marked <output folder> <gif>...
#include <FreeImage.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Job { Png, Jpg, PngMarked };

std::vector<BYTE> ReadFile(const char* path) {
    std::vector<BYTE> bytes;
    if (std::FILE* f = std::fopen(path, "rb")) {
        std::fseek(f, 0, SEEK_END);
        bytes.resize(static_cast<size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
        std::fclose(f);
    }
    return bytes;
}

// An 8-pixel red border and a line of text, as the converter's frame and
// text watermark options draw them.
void Mark(FIBITMAP* frame) {
    const int w = static_cast<int>(FreeImage_GetWidth(frame)), h = static_cast<int>(FreeImage_GetHeight(frame));
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        FreeImage_GetBits(frame), CAIRO_FORMAT_ARGB32, w, h, static_cast<int>(FreeImage_GetPitch(frame)));
    cairo_t* cr = cairo_create(surface);
    cairo_translate(cr, 0, h);  // FreeImage rows run bottom-up
    cairo_scale(cr, 1, -1);
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_set_line_width(cr, 8);
    cairo_rectangle(cr, 4, 4, w - 8, h - 8);
    cairo_stroke(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Liberation Sans 20");
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "kestrune bench", -1);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, 16, 16);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

bool Save(FIBITMAP* frame, Job job, const std::string& path) {
    if (job == Job::Jpg) {
        FIBITMAP* rgb = FreeImage_ConvertTo24Bits(frame);
        FIBITMAP* small = rgb ? FreeImage_Rescale(rgb, 320, 240, FILTER_BICUBIC) : nullptr;
        const bool ok = small && FreeImage_Save(FIF_JPEG, small, path.c_str(), 90 | JPEG_SUBSAMPLING_420);
        if (small) FreeImage_Unload(small);
        if (rgb) FreeImage_Unload(rgb);
        return ok;
    }
    if (job == Job::PngMarked) Mark(frame);
    return FreeImage_Save(FIF_PNG, frame, path.c_str(), PNG_Z_DEFAULT_COMPRESSION);
}

void Draw(FIBITMAP* canvas, FIBITMAP* page, int left, int top) {
    const int ch = static_cast<int>(FreeImage_GetHeight(canvas));
    const int w = static_cast<int>(FreeImage_GetWidth(page)), h = static_cast<int>(FreeImage_GetHeight(page));
    int transparent = -1;
    if (FreeImage_IsTransparent(page)) {
        const BYTE* table = FreeImage_GetTransparencyTable(page);
        for (int i = 0; i < static_cast<int>(FreeImage_GetTransparencyCount(page)); ++i)
            if (table[i] == 0) {
                transparent = i;
                break;
            }
    }
    uint32_t colours[256];
    const RGBQUAD* pal = FreeImage_GetPalette(page);
    for (int i = 0; i < 256; ++i) {
        RGBQUAD c = pal[i];
        c.rgbReserved = 255;
        std::memcpy(&colours[i], &c, 4);
    }
    for (int y = 0; y < h; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(FreeImage_GetScanLine(canvas, ch - 1 - (top + y))) + left;
        const BYTE* in = FreeImage_GetScanLine(page, h - 1 - y);
        for (int x = 0; x < w; ++x)
            if (in[x] != transparent) out[x] = colours[in[x]];
    }
}

int TagValue(FIBITMAP* dib, const char* key) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_ANIMATION, dib, key, &tag) || !tag) return 0;
    return FreeImage_GetTagType(tag) == FIDT_SHORT ? *static_cast<const WORD*>(FreeImage_GetTagValue(tag))
                                                   : *static_cast<const BYTE*>(FreeImage_GetTagValue(tag));
}

bool Convert(const char* input, Job job, const std::string& folder) {
    std::vector<BYTE> file = ReadFile(input);
    if (file.size() < 13) return false;
    const int sw = file[6] | file[7] << 8, sh = file[8] | file[9] << 8;
    RGBQUAD background{};
    if ((file[10] & 0x80) && file[11] < (2 << (file[10] & 7))) {
        background = {file[13 + 3 * file[11] + 2], file[13 + 3 * file[11] + 1], file[13 + 3 * file[11]], 0};
    }
    FIMEMORY* stream = FreeImage_OpenMemory(file.data(), static_cast<DWORD>(file.size()));
    FIMULTIBITMAP* pages = FreeImage_LoadMultiBitmapFromMemory(FIF_GIF, stream, GIF_LOAD256);
    const int count = pages ? FreeImage_GetPageCount(pages) : 0;
    FIBITMAP* canvas = count > 0 ? FreeImage_Allocate(sw, sh, 32) : nullptr;
    auto fill = [&](int left, int top, int w, int h) {
        for (int y = top; y < top + h; ++y) {
            RGBQUAD* row = reinterpret_cast<RGBQUAD*>(FreeImage_GetScanLine(canvas, sh - 1 - y)) + left;
            std::fill(row, row + w, background);
        }
    };
    if (canvas) fill(0, 0, sw, sh);
    std::string base = input;
    base = base.substr(base.find_last_of('/') + 1);
    base = folder + "/" + base.substr(0, base.size() - 4);
    const std::string ext = job == Job::Jpg ? ".jpg" : ".png";
    bool ok = count > 0;
    for (int i = 0; i < count && canvas; ++i) {
        FIBITMAP* page = FreeImage_LockPage(pages, i);
        if (!page) continue;
        const int left = TagValue(page, "FrameLeft"), top = TagValue(page, "FrameTop");
        const int disposal = TagValue(page, "DisposalMethod");
        const int w = static_cast<int>(FreeImage_GetWidth(page)), h = static_cast<int>(FreeImage_GetHeight(page));
        FIBITMAP* frame;
        if (disposal == 2 || disposal == 3) {
            frame = FreeImage_Clone(canvas);
            Draw(frame, page, left, top);
            if (disposal == 2) fill(left, top, w, h);
        } else {
            Draw(canvas, page, left, top);
            frame = FreeImage_Clone(canvas);
        }
        FreeImage_UnlockPage(pages, page, FALSE);
        const std::string path = count > 1 ? base + "[" + std::to_string(i + 1) + "]" + ext : base + ext;
        ok = Save(frame, job, path) && ok;
        FreeImage_Unload(frame);
    }
    if (canvas) FreeImage_Unload(canvas);
    if (pages) FreeImage_CloseMultiBitmap(pages, 0);
    FreeImage_CloseMemory(stream);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s png|jpg|png-marked <output folder> <gif>...\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const Job job = mode == "jpg" ? Job::Jpg : mode == "png-marked" ? Job::PngMarked : Job::Png;
    int failed = 0;
    for (int i = 3; i < argc; ++i) failed += !Convert(argv[i], job, argv[2]);
    return failed == 0 ? 0 : 1;
}
