// Chooses the libdeflate levels of the PNG writer: every frame of the given
// GIFs (composed as the program composes them, at 32 bits, and at 24 bits
// when it has transparency) is written by FreeImage at ZLIB1, ZLIB6, ZLIB9
// and without compression, and by the own writer at each libdeflate level;
// prints per level the bytes, the seconds and how many files came out
// larger than FreeImage's at each setting, and checks that both writers'
// filtered rows are the same bytes.
//
//   bench_png_levels [--threads N] [--levels 1,2,7,10] [--first-frame F] FILE.gif|FOLDER ...
// (default: every level, 0 to 12)
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "formats/loading.h"
#include "formats/png_writer.h"

using namespace kestrune;

namespace {

constexpr int kLevels = 13;  // libdeflate 0..12
struct Setting {
    const char* name;
    int flags;
};
constexpr Setting kSettings[] = {
    {"NONE", PNG_Z_NO_COMPRESSION}, {"ZLIB1", PNG_Z_BEST_SPEED}, {"ZLIB6", PNG_Z_DEFAULT_COMPRESSION},
    {"ZLIB9", PNG_Z_BEST_COMPRESSION}};
constexpr int kSettingCount = 4;

struct Totals {
    long frames = 0, filter_mismatches = 0;
    double lib_seconds[kSettingCount] = {}, own_seconds[kLevels] = {};
    long long lib_bytes[kSettingCount] = {}, own_bytes[kLevels] = {};
    long larger[kLevels][kSettingCount] = {};
    double worst[kLevels][kSettingCount] = {};  // largest own / library size
    double mapped_seconds[kSettingCount] = {};
    long long mapped_bytes[kSettingCount] = {};
    long mapped_larger[kSettingCount] = {};
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The inflated IDAT stream of a PNG file (the filter bytes and the rows).
std::vector<uint8_t> Rows(const uint8_t* png, size_t size) {
    std::vector<uint8_t> z;
    uint32_t width = 0, height = 0, channels = 0;
    for (size_t at = 8; at + 12 <= size;) {
        const uint32_t length = Be32(png + at);
        const uint8_t* type = png + at + 4;
        if (!std::memcmp(type, "IHDR", 4)) {
            width = Be32(png + at + 8);
            height = Be32(png + at + 12);
            channels = png[at + 17] == 6 ? 4 : 3;
        }
        if (!std::memcmp(type, "IDAT", 4)) z.insert(z.end(), png + at + 8, png + at + 8 + length);
        at += 12 + size_t(length);
    }
    std::vector<uint8_t> rows((size_t(width) * channels + 1) * height);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    size_t got = 0;
    if (libdeflate_zlib_decompress(d, z.data(), z.size(), rows.data(), rows.size(), &got) != LIBDEFLATE_SUCCESS)
        rows.clear();
    libdeflate_free_decompressor(d);
    return rows;
}

std::vector<int> g_levels = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
std::mutex g_print;
int g_first_frame = 0;

void Measure(FIBITMAP* frame, const std::string& where, Totals& t) {
    long long lib[kSettingCount];
    std::vector<uint8_t> lib_rows;
    for (int s = 0; s < kSettingCount; ++s) {
        MemoryStream m(FreeImage_OpenMemory());
        const double start = Now();
        FreeImage_SaveToMemory(FIF_PNG, frame, m.get(), kSettings[s].flags);
        t.lib_seconds[s] += Now() - start;
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(m.get(), &data, &size);
        lib[s] = size;
        t.lib_bytes[s] += size;
        if (s == 2) lib_rows = Rows(data, size);
    }
    std::vector<uint8_t> own;
    for (int level : g_levels) {
        const double start = Now();
        EncodePng(frame, PngCompression{level, -1}, own);
        t.own_seconds[level] += Now() - start;
        t.own_bytes[level] += static_cast<long long>(own.size());
        if (level == PngCompressionFor(PNG_Z_DEFAULT_COMPRESSION).deflate_level && (lib_rows.empty() || Rows(own.data(), own.size()) != lib_rows))
            ++t.filter_mismatches;
        for (int s = 0; s < kSettingCount; ++s) {
            if (static_cast<long long>(own.size()) > lib[s]) {
                ++t.larger[level][s];
            }
            t.worst[level][s] = std::max(t.worst[level][s], double(own.size()) / double(lib[s]));
        }
    }
    // The writer as the program runs it, small frames tried with zlib too.
    for (int s = 1; s < kSettingCount; ++s) {
        const double start = Now();
        EncodePng(frame, PngCompressionFor(kSettings[s].flags), own);
        t.mapped_seconds[s] += Now() - start;
        t.mapped_bytes[s] += static_cast<long long>(own.size());
        if (static_cast<long long>(own.size()) <= lib[s]) continue;
        ++t.mapped_larger[s];
        std::lock_guard<std::mutex> lock(g_print);
        std::fprintf(stderr, "larger than %s: %s %ux%u %zu > %lld\n", kSettings[s].name, where.c_str(),
                     FreeImage_GetWidth(frame), FreeImage_GetHeight(frame), own.size(), lib[s]);
    }
    ++t.frames;
}

bool HasTransparency(FIBITMAP* frame) { return FreeImage_GetColorType(frame) == FIC_RGBALPHA; }

// One thread's totals into the run's: sums, and the worst ratios.
void Add(Totals& t, const Totals& p) {
    t.frames += p.frames;
    t.filter_mismatches += p.filter_mismatches;
    for (int s = 0; s < kSettingCount; ++s) {
        t.lib_seconds[s] += p.lib_seconds[s];
        t.lib_bytes[s] += p.lib_bytes[s];
        t.mapped_seconds[s] += p.mapped_seconds[s];
        t.mapped_bytes[s] += p.mapped_bytes[s];
        t.mapped_larger[s] += p.mapped_larger[s];
    }
    for (int l = 0; l < kLevels; ++l) {
        t.own_seconds[l] += p.own_seconds[l];
        t.own_bytes[l] += p.own_bytes[l];
        for (int s = 0; s < kSettingCount; ++s) {
            t.larger[l][s] += p.larger[l][s];
            t.worst[l][s] = std::max(t.worst[l][s], p.worst[l][s]);
        }
    }
}

// The table of the run as Markdown.
void PrintTable(const Totals& t) {
    std::printf("%ld frames written, %ld with filtered rows unlike FreeImage's at ZLIB6\n\n", t.frames,
                t.filter_mismatches);
    std::printf("| writer | seconds | MB |");
    for (const Setting& s : kSettings) std::printf(" larger than %s (worst) |", s.name);
    std::printf("\n|---|---:|---:|---:|---:|---:|---:|\n");
    for (int s = 0; s < kSettingCount; ++s)
        std::printf("| FreeImage %s | %.2f | %.2f | | | | |\n", kSettings[s].name, t.lib_seconds[s], t.lib_bytes[s] / 1e6);
    for (int l : g_levels) {
        std::printf("| libdeflate %d | %.2f | %.2f |", l, t.own_seconds[l], t.own_bytes[l] / 1e6);
        for (int s = 0; s < kSettingCount; ++s) std::printf(" %ld (%.4f) |", t.larger[l][s], t.worst[l][s]);
        std::printf("\n");
    }
    for (int s = 1; s < kSettingCount; ++s)
        std::printf("| as mapped for %s (level %d) | %.2f | %.2f | %ld larger |\n", kSettings[s].name,
                    PngCompressionFor(kSettings[s].flags).deflate_level, t.mapped_seconds[s], t.mapped_bytes[s] / 1e6,
                    t.mapped_larger[s]);
}

}  // namespace

int main(int argc, char** argv) {
    FreeImage_Initialise(FALSE);
    unsigned threads = 1;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--threads" && i + 1 < argc) {
            threads = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
        } else if (a == "--first-frame" && i + 1 < argc) {
            g_first_frame = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--levels" && i + 1 < argc) {
            g_levels.clear();
            for (const char* p = argv[++i]; *p;) {
                g_levels.push_back(std::clamp(std::atoi(p), 0, kLevels - 1));
                while (*p && *p != ',') ++p;
                if (*p == ',') ++p;
            }
        } else if (std::filesystem::is_directory(a)) {
            for (const auto& e : std::filesystem::directory_iterator(a))
                if (e.path().extension() == ".gif") files.push_back(e.path().string());
        } else {
            files.push_back(a);
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<Totals> per_thread(threads);
    std::atomic<size_t> next{0};
    std::vector<std::thread> pool;
    for (unsigned k = 0; k < threads; ++k) {
        pool.emplace_back([&, k] {
            for (size_t i; (i = next++) < files.size();) {
                FrameSource source = OpenFrameSource(files[i]);
                for (int f = g_first_frame; f < source.frame_count; ++f) {
                    Bitmap frame = TakeFrame(source, f);
                    if (!frame) continue;
                    const std::string where = files[i] + " frame " + std::to_string(f);
                    Measure(frame.get(), where, per_thread[k]);
                    if (HasTransparency(frame.get())) {
                        Bitmap rgb(FreeImage_ConvertTo24Bits(frame.get()));
                        if (rgb) Measure(rgb.get(), where + " at 24 bits", per_thread[k]);
                    }
                }
            }
        });
    }
    for (std::thread& t : pool) t.join();
    Totals t;
    for (const Totals& p : per_thread) Add(t, p);
    PrintTable(t);
    FreeImage_DeInitialise();
    return t.filter_mismatches == 0 ? 0 : 1;
}
