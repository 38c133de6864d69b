#include "robustness/robustness_support.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace robustness {

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> SplitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    for (size_t i = 1; i < line.size(); ++i) {  // past the leading "|"
        if (line[i] == '|') {
            cells.push_back(Trim(cell));
            cell.clear();
        } else {
            cell += line[i];
        }
    }
    return cells;
}

std::string Unmarked(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '`'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '*'), text.end());
    return text;
}

// The sub-blocks after a block's fixed part; false when the data end first.
bool SkipSubBlocks(const std::string& bytes, size_t& at) {
    while (at < bytes.size()) {
        const size_t size = static_cast<unsigned char>(bytes[at]);
        ++at;
        if (size == 0) return true;
        at += size;
    }
    return false;
}

unsigned Le16(const std::string& b, size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8;
}

}  // namespace

std::vector<CorpusFile> CorpusTable() {
    std::vector<CorpusFile> files;
    const std::string dir = CorpusDir();
    if (dir.empty()) return files;
    std::istringstream text(ReadFileBytes(dir + "/SOURCES.md"));
    std::string line;
    bool in_files = false;
    while (std::getline(text, line)) {
        if (line.rfind("## Files", 0) == 0) in_files = true;
        if (!in_files || line.rfind("| `", 0) != 0) continue;
        // file | source | original | licence | ver | screen | frames | features | status | case
        const std::vector<std::string> cells = SplitCells(line);
        if (cells.size() < 10) continue;
        CorpusFile f;
        f.name = Unmarked(cells[0]);
        f.status = Unmarked(cells[8]);
        const std::string screen = cells[5];
        const size_t x = screen.find('x');
        if (x != std::string::npos) {
            f.screen_width = std::atoi(screen.substr(0, x).c_str());
            f.screen_height = std::atoi(screen.substr(x + 1).c_str());
        }
        f.frames = std::atoi(cells[6].c_str());
        files.push_back(f);
    }
    return files;
}

std::vector<CorpusFile> CorpusFilesWithStatus(const std::string& status) {
    std::vector<CorpusFile> chosen;
    for (const CorpusFile& f : CorpusTable())
        if (f.status == status) chosen.push_back(f);
    return chosen;
}

GifLayout ReadGifLayout(const std::string& bytes) {
    GifLayout layout;
    if (bytes.size() < 13 || (bytes.compare(0, 6, "GIF87a") != 0 && bytes.compare(0, 6, "GIF89a") != 0))
        return layout;
    layout.valid_header = true;
    layout.screen_width = static_cast<int>(Le16(bytes, 6));
    layout.screen_height = static_cast<int>(Le16(bytes, 8));
    size_t at = 13;
    const unsigned char flags = static_cast<unsigned char>(bytes[10]);
    if (flags & 0x80) at += 3u << ((flags & 7) + 1);
    while (at < bytes.size()) {
        const unsigned char block = static_cast<unsigned char>(bytes[at++]);
        if (block == 0x2C) {
            if (at + 9 > bytes.size()) break;
            const unsigned left = Le16(bytes, at), top = Le16(bytes, at + 2);
            const unsigned width = Le16(bytes, at + 4), height = Le16(bytes, at + 6);
            const unsigned char local = static_cast<unsigned char>(bytes[at + 8]);
            at += 9;
            ++layout.frames;
            if (left + width > static_cast<unsigned>(layout.screen_width) ||
                top + height > static_cast<unsigned>(layout.screen_height))
                layout.frames_inside_screen = false;
            if (local & 0x80) at += 3u << ((local & 7) + 1);
            ++at;  // LZW minimum code size
            if (!SkipSubBlocks(bytes, at)) break;
        } else if (block == 0x21) {
            ++at;  // label
            if (!SkipSubBlocks(bytes, at)) break;
        } else {
            break;  // trailer or garbage
        }
    }
    return layout;
}

int64_t BytesOf(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

std::string StemOf(const std::string& name) {
    const std::string base = fs::path(name).filename().string();
    const size_t dot = base.rfind('.');
    return dot == std::string::npos ? base : base.substr(0, dot);
}

BatchRun RunDebugBatch(std::vector<std::string> args, int timeout_seconds, const RunOptions& base,
                       const Limits& limits) {
    args.push_back("-d");
    RunOptions options = base;
    options.timeout_seconds = timeout_seconds;
    BatchRun run;
    run.process = RunKestruneLimited(args, limits, options);
    EXPECT_FALSE(run.process.timed_out) << "kestrunecmd did not finish within " << timeout_seconds << " s";
    EXPECT_EQ(run.process.exit_code, 0) << "stderr:\n" << run.process.err.substr(0, 4000);
    run.lines = ConsoleLines(run.process.out);
    run.taken = static_cast<int>(std::count_if(run.lines.begin(), run.lines.end(), [](const std::string& l) {
        return l.rfind("Processing: ", 0) == 0;
    }));
    run.verdicts = Verdicts(run.lines);
    return run;
}

std::map<std::string, std::string> Verdicts(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> verdicts;
    for (size_t i = 0; i + 2 < lines.size(); ++i) {
        if (lines[i].rfind("Processing: ", 0) == 0) verdicts[lines[i].substr(12)] = lines[i + 2];
    }
    return verdicts;
}

std::pair<int, int> SummaryCounts(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        int converted = 0, total = 0;
        if (std::sscanf(line.c_str(), "Files converted: %d of %d", &converted, &total) == 2)
            return {converted, total};
    }
    return {-1, -1};
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_directory(ec)) files.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> UnexpectedFiles(const std::string& folder, const std::set<std::string>& stems,
                                         const std::string& extension) {
    std::vector<std::string> unexpected;
    const std::regex numbered("(.*)\\[[0-9]+\\]");
    for (const std::string& file : FilesBelow(folder)) {
        const std::string name = fs::path(file).filename().string();
        const std::string suffix = "." + extension;
        bool expected = name.rfind(".kestrune", 0) != 0 && name.size() > suffix.size() &&
                        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (expected) {
            std::string stem = name.substr(0, name.size() - suffix.size());
            std::smatch m;
            if (!stems.count(stem) && std::regex_match(stem, m, numbered)) stem = m[1];
            expected = stems.count(stem) > 0;
        }
        if (!expected) unexpected.push_back(file);
    }
    return unexpected;
}

std::vector<std::string> ExpectedOutputs(const std::string& stem, int frames, const std::string& extension) {
    std::vector<std::string> names;
    if (frames <= 1) {
        names.push_back(stem + "." + extension);
    } else {
        for (int i = 1; i <= frames; ++i) names.push_back(stem + "[" + std::to_string(i) + "]." + extension);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::pair<int, int> ImageSizeOf(const std::string& path) {
    // FreeImage reads a compressed DDS file's size rounded down to whole 4 x 4
    // blocks, so its own header (height at 12, width at 16) is read instead.
    const std::string head = ReadFileBytes(path).substr(0, 20);
    if (head.size() == 20 && head.compare(0, 4, "DDS ") == 0) {
        auto le32 = [&](size_t at) {
            return static_cast<int>(Le16(head, at) | Le16(head, at + 2) << 16);
        };
        return {le32(16), le32(12)};
    }
    // FreeImage refuses PCX files of a single row, which DevIL writes
    // correctly; the header's window (Xmin, Ymin, Xmax, Ymax at 4) says the size.
    if (head.size() >= 12 && head[0] == 0x0A && head[2] == 1 && path.size() > 4 &&
        path.compare(path.size() - 4, 4, ".pcx") == 0) {
        return {static_cast<int>(Le16(head, 8)) - static_cast<int>(Le16(head, 4)) + 1,
                static_cast<int>(Le16(head, 10)) - static_cast<int>(Le16(head, 6)) + 1};
    }
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
    if (fif == FIF_UNKNOWN) return {0, 0};
    // Only the header is needed.
    FIBITMAP* image = FreeImage_Load(fif, path.c_str(), FIF_LOAD_NOPIXELS);
    if (!image) image = FreeImage_Load(fif, path.c_str(), 0);
    if (!image) return {0, 0};
    const std::pair<int, int> size{static_cast<int>(FreeImage_GetWidth(image)),
                                   static_cast<int>(FreeImage_GetHeight(image))};
    FreeImage_Unload(image);
    return size;
}

ProcessResult RunKestruneLimited(const std::vector<std::string>& args, const Limits& limits,
                                 const RunOptions& options) {
    // The child inherits the soft limits; this process only forks and waits
    // while they are changed, and gets its own back afterwards.
    std::vector<std::pair<int, struct rlimit>> saved;
    for (const auto& [resource, value] : limits) {
        struct rlimit limit {};
        getrlimit(resource, &limit);
        saved.push_back({resource, limit});
        limit.rlim_cur = std::min<rlim_t>(value, limit.rlim_max);
        setrlimit(resource, &limit);
    }
    ProcessResult result = RunKestrune(args, options);
    for (const auto& [resource, limit] : saved) setrlimit(resource, &limit);
    return result;
}

}  // namespace robustness
