// Every output format, at every depth it allows and with every encoder
// option that changes the file's layout, written by the real program from
// two animated GIFs with transparency (one below 32 pixels, one larger, both
// not square) and read back by another program's decoder. The pixels are
// compared with the composed frames, so a file that other programs refuse,
// show upside down, with wrong colours or as the wrong size fails here even
// when FreeImage reads it back without complaint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using testing_support::GifColour;
using testing_support::GifFrame;
using testing_support::GifImage;
using testing_support::Rgba;
using testing_support::TempDir;

// How an output is read back: the program that reads that format best.
enum class Reader {
    Magick,    // ImageMagick's convert
    Graphics,  // GraphicsMagick
    Netpbm,    // pamtopam (pamdepth for 16-bit samples, wbmptopbm for WBMP)
    Pfm,       // netpbm's pfmtopam
    Jxr,       // jxrlib's JxrDecApp, its TIFF then read by ImageMagick
    OpenJpeg,  // opj_decompress, its PNG then read by ImageMagick
};

// What the decoded pixels are held to, over the pixels the source paints.
enum class Compare {
    Colour,  // every channel within `tolerance`
    Grey,    // luminance within `tolerance` (grey outputs)
    Psnr,    // PSNR of the colour channels at least `tolerance` dB
    GreyPsnr,  // PSNR of the luminance at least `tolerance` dB (grey outputs)
    Dither,  // 1 bit: mean luminance of each colour cell within `tolerance`
};

struct Case {
    const char* name;  // test name
    const char* ext;
    std::vector<const char*> options;
    Reader reader;
    Compare compare;
    double tolerance;
    bool alpha;  // the file keeps transparency and the reader shows it
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

using R = Reader;
using C = Compare;

// Tolerances: the 48-bit conversion stores v << 8, one level short of
// full scale; palettes of the Wu quantizer hold these few colours exactly;
// 16-bit outputs keep 5 bits a channel; 4-bit outputs are 16 grey levels;
// HDR's shared exponent and EXR's half floats (B44 and PXR24 lossy) lose a
// little after the sRGB round trip; JPEG-2000 at its 16:1 rate and DXT1
// blocks are lossy.
const Case kCases[] = {
    {"bmp_1", "bmp", {"--bmp-bpp=1"}, R::Magick, C::Dither, 48, false},
    {"bmp_4", "bmp", {"--bmp-bpp=4"}, R::Magick, C::Grey, 9, false},
    {"bmp_8", "bmp", {"--bmp-bpp=8"}, R::Magick, C::Colour, 4, false},
    {"bmp_8_rle", "bmp", {"--bmp-bpp=8", "--bmp-compression=RLE"}, R::Magick, C::Colour, 4, false},
    {"bmp_8_rle_gm", "bmp", {"--bmp-bpp=8", "--bmp-compression=RLE"}, R::Graphics, C::Colour, 4, false},
    {"bmp_8_exact", "bmp", {"--bmp-bpp=8", "--bmp-color-table=EXACT"}, R::Magick, C::Colour, 4, false},
    {"bmp_8_exact_rle", "bmp", {"--bmp-bpp=8", "--bmp-color-table=EXACT", "--bmp-compression=RLE"},
     R::Magick, C::Colour, 4, false},
    {"bmp_16", "bmp", {"--bmp-bpp=16"}, R::Magick, C::Colour, 8, false},
    {"bmp_24", "bmp", {"--bmp-bpp=24"}, R::Magick, C::Colour, 0, false},
    // GraphicsMagick refuses every 32-bit BMP of one pixel, ImageMagick's own too.
    {"bmp_32", "bmp", {"--bmp-bpp=32"}, R::Magick, C::Colour, 0, false},
    {"dds_32", "dds", {"--dds-bpp=32"}, R::Magick, C::Psnr, 14, false},
    {"exr_none", "exr", {"--exr-bpp=96", "--exr-compression=NONE"}, R::Magick, C::Colour, 1, false},
    {"exr_zip", "exr", {"--exr-compression=ZIP"}, R::Magick, C::Colour, 1, false},
    {"exr_piz", "exr", {"--exr-compression=PIZ"}, R::Magick, C::Colour, 1, false},
    {"exr_pxr24", "exr", {"--exr-compression=PXR24"}, R::Magick, C::Colour, 1, false},
    {"exr_b44", "exr", {"--exr-compression=B44"}, R::Magick, C::Psnr, 30, false},
    {"gif_8", "gif", {"--gif-bpp=8"}, R::Magick, C::Colour, 4, false},
    {"hdr_96", "hdr", {"--hdr-bpp=96"}, R::Magick, C::Colour, 3, false},
    {"ico_1", "ico", {"--ico-bpp=1"}, R::Magick, C::Dither, 48, false},
    {"ico_4", "ico", {"--ico-bpp=4"}, R::Magick, C::Grey, 9, false},
    {"ico_8", "ico", {"--ico-bpp=8"}, R::Magick, C::Colour, 4, false},
    // ImageMagick 6 takes any 16-bit icon for a 65536-entry palette image.
    {"ico_16", "ico", {"--ico-bpp=16"}, R::Graphics, C::Colour, 8, false},
    {"ico_24", "ico", {"--ico-bpp=24"}, R::Magick, C::Colour, 0, false},
    {"ico_32", "ico", {"--ico-bpp=32"}, R::Magick, C::Colour, 0, true},
    {"j2k_8", "j2k", {"--j2k-bpp=8"}, R::OpenJpeg, C::GreyPsnr, 15, false},
    {"j2k_24", "j2k", {"--j2k-bpp=24"}, R::OpenJpeg, C::Psnr, 20, false},
    {"j2k_32", "j2k", {"--j2k-bpp=32"}, R::OpenJpeg, C::Psnr, 20, true},
    {"j2k_48", "j2k", {"--j2k-bpp=48"}, R::OpenJpeg, C::Psnr, 20, false},
    {"jng_24", "jng", {"--jng-bpp=24"}, R::Magick, C::Psnr, 18, false},
    {"jng_32", "jng", {"--jng-bpp=32"}, R::Magick, C::Psnr, 18, true},
    {"jp2_8", "jp2", {"--jp2-bpp=8"}, R::OpenJpeg, C::GreyPsnr, 15, false},
    {"jp2_24", "jp2", {"--jp2-bpp=24"}, R::OpenJpeg, C::Psnr, 20, false},
    {"jp2_32", "jp2", {"--jp2-bpp=32"}, R::OpenJpeg, C::Psnr, 20, true},
    {"jp2_48", "jp2", {"--jp2-bpp=48"}, R::OpenJpeg, C::Psnr, 20, false},
    {"jpg_8", "jpg", {"--jpg-bpp=8"}, R::Magick, C::GreyPsnr, 30, false},
    {"jpg_24", "jpg", {"--jpg-bpp=24"}, R::Magick, C::Psnr, 30, false},
    {"jpg_24_baseline_420", "jpg", {"--jpg-bpp=24", "--jpg-save-as=SIMPLE", "--jpg-chroma=MEDIUM"},
     R::Magick, C::Psnr, 19, false},
    {"jpg_24_optimized_422", "jpg", {"--jpg-bpp=24", "--jpg-save-as=OPTIMIZED", "--jpg-chroma=LOW"},
     R::Magick, C::Psnr, 20, false},
    {"jpg_24_progressive_411", "jpg", {"--jpg-bpp=24", "--jpg-save-as=PROGRESSIVE", "--jpg-chroma=HIGH"},
     R::Graphics, C::Psnr, 16, false},
    {"jxr_1", "jxr", {"--jxr-bpp=1"}, R::Jxr, C::Dither, 48, false},
    {"jxr_8", "jxr", {"--jxr-bpp=8"}, R::Jxr, C::Grey, 1, false},
    {"jxr_16", "jxr", {"--jxr-bpp=16"}, R::Jxr, C::Colour, 8, false},
    {"jxr_24", "jxr", {"--jxr-bpp=24"}, R::Jxr, C::Colour, 0, false},
    {"jxr_32", "jxr", {"--jxr-bpp=32"}, R::Jxr, C::Colour, 0, true},
    {"jxr_48", "jxr", {"--jxr-bpp=48"}, R::Jxr, C::Colour, 1, false},
    {"jxr_96", "jxr", {"--jxr-bpp=96"}, R::Jxr, C::Colour, 1, false},
    {"pbm_1", "pbm", {"--pbm-bpp=1"}, R::Netpbm, C::Dither, 48, false},
    {"pcx_24", "pcx", {"--pcx-bpp=24"}, R::Magick, C::Colour, 0, false},
    {"pfm_96", "pfm", {"--pfm-bpp=96"}, R::Pfm, C::Colour, 1, false},
    {"pgm_8", "pgm", {"--pgm-bpp=8"}, R::Netpbm, C::Grey, 1, false},
    {"png_1", "png", {"--png-bpp=1"}, R::Magick, C::Dither, 48, false},
    {"png_4", "png", {"--png-bpp=4"}, R::Magick, C::Grey, 9, false},
    {"png_8", "png", {"--png-bpp=8"}, R::Magick, C::Colour, 4, false},
    {"png_24", "png", {"--png-bpp=24", "--png-compression=NONE"}, R::Magick, C::Colour, 0, false},
    {"png_32", "png", {"--png-bpp=32"}, R::Magick, C::Colour, 0, true},
    {"png_32_interlaced", "png", {"--png-bpp=32", "--png-interlaced", "--png-compression=ZLIB9"}, R::Graphics,
     C::Colour, 0, true},
    {"png_48", "png", {"--png-bpp=48"}, R::Magick, C::Colour, 1, false},
    {"ppm_24", "ppm", {"--ppm-bpp=24"}, R::Netpbm, C::Colour, 0, false},
    {"ppm_48", "ppm", {"--ppm-bpp=48"}, R::Netpbm, C::Colour, 1, false},
    // DevIL marks no alpha channel in the file, so readers show none.
    {"psd_32", "psd", {"--psd-bpp=32"}, R::Magick, C::Colour, 0, false},
    {"tga_8", "tga", {"--tga-bpp=8"}, R::Magick, C::Colour, 4, false},
    {"tga_16", "tga", {"--tga-bpp=16"}, R::Magick, C::Colour, 8, false},
    {"tga_24", "tga", {"--tga-bpp=24"}, R::Magick, C::Colour, 0, false},
    {"tga_32", "tga", {"--tga-bpp=32"}, R::Magick, C::Colour, 0, true},
    {"tga_32_rle", "tga", {"--tga-bpp=32", "--tga-compression=RLE"}, R::Magick, C::Colour, 0, true},
    {"tga_8_rle", "tga", {"--tga-bpp=8", "--tga-compression=RLE"}, R::Graphics, C::Colour, 4, false},
    {"tiff_1_fax3", "tiff", {"--tiff-bpp=1", "--tiff-compression=CCITTFAX3"}, R::Magick, C::Dither, 48, false},
    {"tiff_1_fax4", "tiff", {"--tiff-bpp=1", "--tiff-compression=CCITTFAX4"}, R::Magick, C::Dither, 48, false},
    {"tiff_4", "tiff", {"--tiff-bpp=4"}, R::Magick, C::Grey, 9, false},
    {"tiff_8_packbits", "tiff", {"--tiff-bpp=8", "--tiff-compression=PACKBITS"}, R::Magick, C::Colour, 4, false},
    {"tiff_24_none", "tiff", {"--tiff-bpp=24", "--tiff-compression=NONE"}, R::Magick, C::Colour, 0, false},
    {"tiff_24_jpeg", "tiff", {"--tiff-bpp=24", "--tiff-compression=JPEG"}, R::Magick, C::Psnr, 26, false},
    {"tiff_32_lzw", "tiff", {"--tiff-bpp=32", "--tiff-compression=LZW"}, R::Magick, C::Colour, 0, true},
    {"tiff_32_deflate", "tiff", {"--tiff-bpp=32", "--tiff-compression=DEFLATE"}, R::Graphics, C::Colour, 0, true},
    {"tiff_32_adobe", "tiff", {"--tiff-bpp=32", "--tiff-compression=ADOBEDEFLATE"}, R::Magick, C::Colour, 0, true},
    {"tiff_32_cmyk", "tiff", {"--tiff-bpp=32", "--tiff-color-model=CMYK"}, R::Magick, C::Colour, 1, false},
    {"tiff_32_lab", "tiff", {"--tiff-bpp=32", "--tiff-color-model=LAB"}, R::Magick, C::Colour, 0, true},
    {"tiff_48", "tiff", {"--tiff-bpp=48"}, R::Magick, C::Colour, 1, false},
    {"tiff_96", "tiff", {"--tiff-bpp=96"}, R::Magick, C::Colour, 1, false},
    {"tiff_96_logluv", "tiff", {"--tiff-bpp=96", "--tiff-compression=LOGLUV"}, R::Magick, C::Psnr, 30, false},
    {"wbmp_1", "wbmp", {"--wbmp-bpp=1"}, R::Netpbm, C::Dither, 48, false},
    {"webp_24", "webp", {"--webp-bpp=24"}, R::Magick, C::Colour, 0, false},
    {"webp_32", "webp", {"--webp-bpp=32"}, R::Magick, C::Colour, 0, true},
    {"xpm_24", "xpm", {"--xpm-bpp=24"}, R::Magick, C::Colour, 0, false},
};

// ---------------------------------------------------------------------------
// The two animations and their composed frames.

const std::vector<GifColour> kPalette = {
    {200, 30, 30},   {30, 160, 40},   {40, 60, 210},   {230, 210, 40},  {250, 250, 250}, {20, 20, 20},
    {180, 60, 200},  {60, 200, 200},  {240, 140, 30},  {120, 120, 120}, {90, 40, 10},    {170, 220, 120},
    {250, 180, 200}, {10, 90, 110},   {130, 170, 250}, {0, 0, 0},
};
constexpr int kTransparent = 15;

// Cells of 4 x 3 colours, all different, so that any flip, rotation or swap
// shows; the top right cell is left transparent.
int CellIndex(int x, int y, int w, int h) {
    const int cx = x * 4 / w, cy = y * 3 / h;
    if (cx == 3 && cy == 0) return kTransparent;
    return cx + 4 * cy;
}

// A still of one light pixel: the smallest image every format must take
// (light, so that a dithered bit shows it too).
GifImage Dot() {
    GifImage gif;
    gif.width = gif.height = 1;
    gif.global_palette = {{240, 240, 230}, {0, 0, 0}};
    gif.frames.push_back(testing_support::SolidFrame(1, 1, 0));
    return gif;
}

// Frame 1 covers the screen; frame 2 paints a patch with a transparent hole
// over it; frame 3 paints half of the transparent cell.
GifImage Animation(int w, int h) {
    GifImage gif;
    gif.width = w;
    gif.height = h;
    gif.global_palette = kPalette;
    GifFrame first;
    first.width = w;
    first.height = h;
    first.transparent = kTransparent;
    first.disposal = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) first.indices.push_back(static_cast<uint8_t>(CellIndex(x, y, w, h)));
    gif.frames.push_back(first);

    GifFrame patch;
    patch.left = w / 4;
    patch.top = h / 3;
    patch.width = w / 2;
    patch.height = h / 3;
    patch.transparent = kTransparent;
    patch.disposal = 1;
    for (int y = 0; y < patch.height; ++y)
        for (int x = 0; x < patch.width; ++x)
            patch.indices.push_back(x < patch.width / 3 && y >= patch.height / 2 ? kTransparent : 12);
    gif.frames.push_back(patch);

    GifFrame corner;
    corner.left = w * 3 / 4;
    corner.top = 0;
    corner.width = w - corner.left;
    corner.height = std::max(1, h / 6);
    corner.transparent = kTransparent;
    corner.disposal = 1;
    corner.indices.assign(static_cast<size_t>(corner.width) * corner.height, 13);
    gif.frames.push_back(corner);
    return gif;
}

struct Image {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;  // rows top-down
    const Rgba& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Frame k as a viewer shows it: every frame kept, transparent pixels show
// what lies below, pixels nobody painted stay transparent (alpha 0).
Image Composed(const GifImage& gif, int frame) {
    Image image{gif.width, gif.height, std::vector<Rgba>(static_cast<size_t>(gif.width) * gif.height, Rgba{0, 0, 0, 0})};
    for (int k = 0; k <= frame; ++k) {
        const GifFrame& f = gif.frames[k];
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const int index = f.indices[static_cast<size_t>(y) * f.width + x];
                if (index == f.transparent) continue;
                const GifColour& c = gif.global_palette[index];
                image.pixels[static_cast<size_t>(f.top + y) * gif.width + f.left + x] = {c.r, c.g, c.b, 255};
            }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Reading the outputs.

std::string Shell(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// A netpbm PAM file (any depth of 1 to 4 samples, maxval up to 65535) as
// 8-bit RGBA; false when it is not one.
bool ParsePam(const std::string& bytes, Image& image) {
    if (bytes.compare(0, 3, "P7\n") != 0) return false;
    const size_t end = bytes.find("ENDHDR\n");
    if (end == std::string::npos) return false;
    std::istringstream header(bytes.substr(3, end - 3));
    std::string key;
    int depth = 0, maxval = 0;
    while (header >> key) {
        if (key == "WIDTH") header >> image.width;
        else if (key == "HEIGHT") header >> image.height;
        else if (key == "DEPTH") header >> depth;
        else if (key == "MAXVAL") header >> maxval;
        else if (key == "TUPLTYPE") header >> key;
    }
    if (image.width <= 0 || image.height <= 0 || depth < 1 || depth > 4 || maxval < 1 || maxval > 65535)
        return false;
    const size_t sample_bytes = maxval > 255 ? 2 : 1;
    const size_t count = static_cast<size_t>(image.width) * image.height;
    const size_t start = end + 7;
    if (bytes.size() < start + count * depth * sample_bytes) return false;
    auto sample = [&](size_t i) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + start + i * sample_bytes;
        const int v = sample_bytes == 2 ? (p[0] << 8 | p[1]) : p[0];
        return static_cast<uint8_t>(std::lround(v * 255.0 / maxval));
    };
    image.pixels.resize(count);
    for (size_t i = 0; i < count; ++i) {
        Rgba& c = image.pixels[i];
        const size_t at = i * depth;
        if (depth <= 2) {
            c.r = c.g = c.b = sample(at);
            c.a = depth == 2 ? sample(at + 1) : 255;
        } else {
            c = {sample(at), sample(at + 1), sample(at + 2), depth == 4 ? sample(at + 3) : uint8_t(255)};
        }
    }
    return true;
}

// The shell command that turns `file` into 8-bit PAM at `pam`.
std::string DecodeCommand(Reader reader, const std::string& ext, const std::string& file, const std::string& pam) {
    const std::string in = Quoted(file), out = Quoted(pam);
    // As a viewer shows it: turned as the file says (Targa's bottom-up
    // rows), linear light and CMYK as sRGB.
    const std::string magick = "convert " + std::string(ext == "wbmp" ? "wbmp:" : "") + in +
                               "[0] -auto-orient -colorspace sRGB -depth 8 pam:" + out;
    switch (reader) {
        case Reader::Magick: return magick;
        case Reader::Graphics: return "gm convert " + in + "[0] -depth 8 pam:" + out;
        case Reader::Netpbm:
            if (ext == "wbmp") return "wbmptopbm " + in + " | pamtopam > " + out;
            return "pamdepth 255 " + in + " | pamtopam > " + out;
        case Reader::Pfm: return "pfmtopam -maxval 255 " + in + " > " + out;
        case Reader::Jxr:
            return "JxrDecApp -i " + in + " -o " + Quoted(file + ".tif") + " >/dev/null && convert " +
                   Quoted(file + ".tif") + "[0] -depth 8 pam:" + out;
        case Reader::OpenJpeg:
            return "opj_decompress -i " + in + " -o " + Quoted(file + ".png") + " >/dev/null && convert " +
                   Quoted(file + ".png") + "[0] -depth 8 pam:" + out;
    }
    return "false";
}

const char* ReaderProgram(Reader reader) {
    switch (reader) {
        case Reader::Magick: return "convert";
        case Reader::Graphics: return "gm";
        case Reader::Netpbm: return "pamtopam";
        case Reader::Pfm: return "pfmtopam";
        case Reader::Jxr: return "JxrDecApp";
        case Reader::OpenJpeg: return "opj_decompress";
    }
    return "";
}

// ---------------------------------------------------------------------------
// Judging one decoded frame.

double Luminance(const Rgba& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

// "" when `got` passes the case's comparison with `want`, else why not.
std::string Judge(const Case& c, const Image& want, const Image& got) {
    if (got.width != want.width || got.height != want.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
    std::ostringstream why;
    double worst = 0, squared = 0;
    int counted = 0, wx = 0, wy = 0;
    // 1 bit: the 4 x 3 colour cells, each averaged.
    std::vector<double> want_cell(12, 0), got_cell(12, 0), cell_count(12, 0);
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x) {
            const Rgba& w = want.at(x, y);
            const Rgba& g = got.at(x, y);
            const bool lossy = c.compare == Compare::Psnr || c.compare == Compare::GreyPsnr;
            if (c.alpha && std::abs(w.a - g.a) > (lossy ? 64 : 8)) {
                why << "alpha " << int(g.a) << " for " << int(w.a) << " at " << x << "," << y;
                return why.str();
            }
            if (w.a == 0) continue;  // the colour under never-painted pixels is not defined
            ++counted;
            double error = 0;
            switch (c.compare) {
                case Compare::Colour:
                    error = std::max({std::abs(w.r - g.r), std::abs(w.g - g.g), std::abs(w.b - g.b)});
                    break;
                case Compare::Grey: error = std::abs(Luminance(w) - Luminance(g)); break;
                case Compare::Psnr:
                    squared += (w.r - g.r) * (w.r - g.r) + (w.g - g.g) * (w.g - g.g) + (w.b - g.b) * (w.b - g.b);
                    break;
                case Compare::GreyPsnr:
                    squared += 3 * (Luminance(w) - Luminance(g)) * (Luminance(w) - Luminance(g));
                    break;
                case Compare::Dither: {
                    const int cell = x * 4 / want.width + 4 * (y * 3 / want.height);
                    want_cell[cell] += Luminance(w);
                    got_cell[cell] += Luminance(g);
                    cell_count[cell] += 1;
                    break;
                }
            }
            if (error > worst) {
                worst = error;
                wx = x;
                wy = y;
            }
        }
    if (c.compare == Compare::Psnr || c.compare == Compare::GreyPsnr) {
        const double mse = squared / (3.0 * std::max(counted, 1));
        const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
        if (psnr < c.tolerance) why << "PSNR " << psnr << " dB";
        return why.str();
    }
    if (c.compare == Compare::Dither) {
        for (int cell = 0; cell < 12; ++cell) {
            if (cell_count[cell] == 0) continue;
            const double error = std::abs(want_cell[cell] - got_cell[cell]) / cell_count[cell];
            if (error > c.tolerance) why << "cell " << cell << " mean luminance off by " << error << "; ";
        }
        return why.str();
    }
    if (worst > c.tolerance) {
        why << "off by " << worst << " at " << wx << "," << wy << ": " << want.at(wx, wy) << " read as "
            << got.at(wx, wy);
    }
    return why.str();
}

// ---------------------------------------------------------------------------

class Conformance : public ::testing::TestWithParam<Case> {
  protected:
    static void SetUpTestSuite() {
        inputs_ = new TempDir;
        // Non-square: 19 x 11 is below the 32 pixels of six JPEG-2000
        // levels and the sizes an icon writer may favour; 70 x 45 is not.
        testing_support::WriteGif(*inputs_ / "small.gif", Animation(19, 11));
        testing_support::WriteGif(*inputs_ / "large.gif", Animation(70, 45));
        testing_support::WriteGif(*inputs_ / "dot.gif", Dot());
    }
    static void TearDownTestSuite() {
        delete inputs_;
        inputs_ = nullptr;
    }
    static TempDir* inputs_;
};

TempDir* Conformance::inputs_ = nullptr;

TEST_P(Conformance, EveryFrameReadsBackInAnotherProgram) {
    const Case& c = GetParam();
    ASSERT_FALSE(Shell(std::string("command -v ") + ReaderProgram(c.reader)).empty())
        << ReaderProgram(c.reader) << " is needed to judge " << c.ext << " files (see the README's test command)";
    if (c.reader == Reader::Jxr || c.reader == Reader::OpenJpeg) {
        ASSERT_FALSE(Shell("command -v convert").empty()) << "ImageMagick's convert is needed";
    }

    TempDir out;
    std::vector<std::string> args{"-i", inputs_->path(), "-o", out.path(), "-c", c.ext, "-d"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const testing_support::ProcessResult run = testing_support::RunKestrune(args);
    ASSERT_FALSE(run.timed_out);
    const std::string console = testing_support::DecodeUtf16Le(run.out);
    EXPECT_NE(console.find("Files converted: 3 of 3"), std::string::npos) << console;

    // Decode every output in one shell, one PAM beside each.
    std::string script;
    struct Output {
        std::string path;
        Image want;
    };
    std::vector<Output> outputs;
    for (const char* base : {"small", "large"}) {
        const GifImage gif = Animation(std::string(base) == "small" ? 19 : 70, std::string(base) == "small" ? 11 : 45);
        for (int k = 0; k < static_cast<int>(gif.frames.size()); ++k) {
            const std::string file = out / (std::string(base) + "[" + std::to_string(k + 1) + "]." + c.ext);
            outputs.push_back({file, Composed(gif, k)});
            script += DecodeCommand(c.reader, c.ext, file, file + ".pam") + " 2>&1;\n";
        }
    }
    const std::string dot = out / ("dot." + std::string(c.ext));
    outputs.push_back({dot, Composed(Dot(), 0)});
    script += DecodeCommand(c.reader, c.ext, dot, dot + ".pam") + " 2>&1;\n";
    const std::string decoder_messages = Shell(script);
    for (const Output& o : outputs) {
        SCOPED_TRACE(o.path.substr(out.path().size() + 1));
        Image got;
        ASSERT_TRUE(ParsePam(testing_support::ReadFileBytes(o.path + ".pam"), got))
            << "not read back; decoder said:\n"
            << decoder_messages;
        const std::string verdict = Judge(c, o.want, got);
        EXPECT_EQ(verdict, "");
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, Conformance, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Every format of the registry has at least one row, and every depth it
// allows is written by some row.
TEST(ConformanceTable, CoversEveryFormatAndDepth) {
    const std::vector<std::pair<std::string, std::string>> depths = {
        {"bmp", "1,4,8,16,24,32"}, {"dds", "32"},    {"exr", "96"},           {"gif", "8"},
        {"hdr", "96"},             {"ico", "1,4,8,16,24,32"}, {"j2k", "8,24,32,48"}, {"jng", "24,32"},
        {"jp2", "8,24,32,48"},     {"jpg", "8,24"},  {"jxr", "1,8,16,24,32,48,96"}, {"pbm", "1"},
        {"pcx", "24"},             {"pfm", "96"},    {"pgm", "8"},            {"png", "1,4,8,24,32,48"},
        {"ppm", "24,48"},          {"psd", "32"},    {"tga", "8,16,24,32"},   {"tiff", "1,4,8,24,32,48,96"},
        {"wbmp", "1"},             {"webp", "24,32"}, {"xpm", "24"},
    };
    for (const auto& [ext, list] : depths) {
        std::stringstream fields(list);
        std::string depth;
        while (std::getline(fields, depth, ',')) {
            const std::string option = "--" + ext + "-bpp=" + depth;
            bool found = false;
            for (const Case& c : kCases)
                for (const char* o : c.options)
                    if (c.ext == ext && o == option) found = true;
            EXPECT_TRUE(found) << option;
        }
    }
}

}  // namespace
