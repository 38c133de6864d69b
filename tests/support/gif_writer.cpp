#include "support/gif_writer.h"

#include <fstream>
#include <stdexcept>

namespace testing_support {
namespace {

void Put16(std::string& out, int v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

int PaletteBits(size_t n) {
    int bits = 1;
    while ((size_t{1} << bits) < n) ++bits;
    return bits;
}

void PutPalette(std::string& out, const std::vector<GifColour>& p, int bits) {
    for (size_t i = 0; i < (size_t{1} << bits); ++i) {
        const GifColour c = i < p.size() ? p[i] : GifColour{};
        out.push_back(static_cast<char>(c.r));
        out.push_back(static_cast<char>(c.g));
        out.push_back(static_cast<char>(c.b));
    }
}

// LZW with a clear code often enough that the code width never grows: simple
// and valid for every decoder.
std::string Lzw(const std::vector<uint8_t>& indices, int min_code_size) {
    const int clear = 1 << min_code_size;
    const int width = min_code_size + 1;
    std::string bytes;
    uint32_t acc = 0;
    int nbits = 0;
    auto emit = [&](int code) {
        acc |= static_cast<uint32_t>(code) << nbits;
        nbits += width;
        while (nbits >= 8) {
            bytes.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            nbits -= 8;
        }
    };
    const int run = clear - 2;
    int in_run = 0;
    emit(clear);
    for (uint8_t v : indices) {
        if (in_run == run) {
            emit(clear);
            in_run = 0;
        }
        emit(v);
        ++in_run;
    }
    emit(clear + 1);
    if (nbits > 0) bytes.push_back(static_cast<char>(acc & 0xFF));
    std::string out;
    out.push_back(static_cast<char>(min_code_size));
    for (size_t i = 0; i < bytes.size(); i += 255) {
        const size_t n = std::min<size_t>(255, bytes.size() - i);
        out.push_back(static_cast<char>(n));
        out.append(bytes, i, n);
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> Interlace(const std::vector<uint8_t>& rows, int w, int h) {
    std::vector<uint8_t> out;
    out.reserve(rows.size());
    const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < h; y += steps[pass])
            out.insert(out.end(), rows.begin() + y * w, rows.begin() + (y + 1) * w);
    return out;
}

}  // namespace

std::string EncodeGif(const GifImage& image) {
    std::string out = "GIF89a";
    Put16(out, image.width);
    Put16(out, image.height);
    const bool gct = !image.global_palette.empty();
    const int gbits = gct ? PaletteBits(image.global_palette.size()) : 1;
    out.push_back(static_cast<char>((gct ? 0x80 : 0) | 0x70 | (gbits - 1)));
    out.push_back(static_cast<char>(image.background));
    out.push_back(0);
    if (gct) PutPalette(out, image.global_palette, gbits);
    if (image.frames.size() > 1) {
        out += "\x21\xFF\x0BNETSCAPE2.0";
        out += std::string("\x03\x01\x00\x00\x00", 5);
    }
    for (const GifFrame& f : image.frames) {
        if (static_cast<int>(f.indices.size()) != f.width * f.height)
            throw std::runtime_error("frame indices do not match its size");
        out += "\x21\xF9\x04";
        out.push_back(static_cast<char>(((f.disposal & 7) << 2) | (f.transparent >= 0 ? 1 : 0)));
        Put16(out, f.delay_cs);
        out.push_back(static_cast<char>(f.transparent >= 0 ? f.transparent : 0));
        out.push_back(0);
        out.push_back(',');
        Put16(out, f.left);
        Put16(out, f.top);
        Put16(out, f.width);
        Put16(out, f.height);
        const bool lct = !f.local_palette.empty();
        const int lbits = lct ? PaletteBits(f.local_palette.size()) : gbits;
        out.push_back(static_cast<char>((lct ? 0x80 : 0) | (f.interlaced ? 0x40 : 0) | (lct ? lbits - 1 : 0)));
        if (lct) PutPalette(out, f.local_palette, lbits);
        const int min_code = std::max(2, lbits);
        out += Lzw(f.interlaced ? Interlace(f.indices, f.width, f.height) : f.indices, min_code);
    }
    out.push_back(';');
    return out;
}

void WriteGif(const std::string& path, const GifImage& image) {
    std::ofstream file(path, std::ios::binary);
    const std::string bytes = EncodeGif(image);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

GifFrame SolidFrame(int width, int height, uint8_t index) {
    GifFrame f;
    f.width = width;
    f.height = height;
    f.indices.assign(static_cast<size_t>(width) * height, index);
    return f;
}

GifImage SimpleAnimation(int width, int height, int frames) {
    GifImage img;
    img.width = width;
    img.height = height;
    img.global_palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    for (int k = 0; k < frames; ++k) img.frames.push_back(SolidFrame(width, height, static_cast<uint8_t>(k % 4)));
    return img;
}

GifImage LetterF(int width, int height) {
    GifImage img;
    img.width = width;
    img.height = height;
    img.global_palette = {{0, 0, 255}, {255, 0, 0}};
    GifFrame f = SolidFrame(width, height, 0);
    const int x0 = width / 5, y0 = height / 6, stroke = std::max(1, width / 8);
    auto set = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < width && y < height) f.indices[static_cast<size_t>(y) * width + x] = 1;
    };
    for (int y = y0; y < height - y0; ++y)
        for (int x = x0; x < x0 + stroke; ++x) set(x, y);  // stem
    for (int y = y0; y < y0 + stroke; ++y)
        for (int x = x0; x < width - x0; ++x) set(x, y);  // top bar
    const int mid = height / 2;
    for (int y = mid; y < mid + stroke; ++y)
        for (int x = x0; x < x0 + (width - 2 * x0) * 2 / 3; ++x) set(x, y);  // middle bar
    img.frames.push_back(std::move(f));
    return img;
}

}  // namespace testing_support
