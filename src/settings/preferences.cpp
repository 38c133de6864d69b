#include "settings/preferences.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/temporary_files.h"
#include "platform/text.h"
#include "settings/mask_tokens.h"
#include "settings/options.h"
#include "settings/settings.h"

namespace kestrune {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr const char* kLineEnd = "\r\n";
// Written after every group: a comment line without text.
constexpr const char* kGroupEndComment = "; ";
constexpr int32_t kCurrentLayout = 17;
// A profile or settings file is a few kilobytes; anything near this size
// is not one, and reading it whole would only cost memory.
constexpr size_t kMaxPreferenceFileBytes = 1 << 20;

// Layouts before 11 stored masks without the extension; before 14 the RAW
// depth codes lacked the two entries that now precede them.
constexpr int32_t kLayoutMaskHasExtension = 11;
constexpr int32_t kLayoutRawCodesShifted = 14;

// Values are single lines in the file; a line break inside a text would cut
// it short and turn its rest into a key line of its own. The watermark's own
// line separator keeps the meaning where a break can mean something.
std::string SingleLine(std::string_view value) {
    std::string out = ReplaceAll(value, "\r\n", "%eol%");
    out = ReplaceAll(out, "\r", "%eol%");
    return ReplaceAll(out, "\n", "%eol%");
}

std::string CsvDelimiterFromWord(const std::string& word) {
    const std::string lower = ToLower(word);
    if (lower == "tab") return "\t";
    if (lower == "space") return " ";
    if (lower == "crlf") return "\r\n";
    return word;
}

// A profile text as a profile writes it: blanks around it are layout, and
// only the file-name mask treats quotes as quoting.
std::string ProfileValue(const OptionRow& row, const std::string& value) {
    switch (row.form) {
        case OptionForm::QuotedText:
            return row.profile_text == ProfileText::QuotesRemoved ? StripQuotes(value) : Trim(value);
        default:
            return value;
    }
}

bool WriteFileReplacing(const std::string& path, const std::string& bytes) {
    // Written beside the file and renamed over it, so that a failed write
    // never leaves half a preference file behind.
    // A close signal meanwhile removes it; one left behind by a process
    // that could not clean up goes with the next write here.
    const std::string temporary = CreateTemporaryBeside(path);
    if (temporary.empty()) return false;
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = false, closed = false;
    if (file) {
        written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        closed = std::fclose(file) == 0;
    }
    if (!written || !closed || !PublishTemporaryFile(temporary, path)) {
        DiscardTemporaryFile(temporary);
        return false;
    }
    return true;
}

}  // namespace

std::vector<PreferenceEntry> ParsePreferenceText(std::string_view bytes) {
    std::string text = bytes.starts_with(kByteOrderMark) ? std::string(bytes.substr(kByteOrderMark.size()))
                                                         : Latin1ToUtf8(bytes);
    std::vector<PreferenceEntry> entries;
    std::string group;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end;
        // A NUL ends the line: no value may carry one into a path or a name,
        // where it would silently cut the text short.
        line = line.substr(0, line.find('\0'));
        if (pos < text.size()) {
            pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
        }

        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos) continue;
        line.remove_prefix(start);
        if (line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.find(']', 1);
            group = std::string(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            continue;
        }
        const size_t eq = line.find('=');
        PreferenceEntry entry;
        entry.group = group;
        entry.key = TrimRight(line.substr(0, eq), " \t");
        if (eq != std::string_view::npos) entry.value = TrimLeft(line.substr(eq + 1), " \t");
        if (!entry.key.empty()) entries.push_back(std::move(entry));
    }
    return entries;
}

bool ReadPreferenceFile(const std::string& path, std::vector<PreferenceEntry>& entries) {
    entries.clear();
    std::string bytes;
    if (path.empty() || !ReadWholeFile(path, bytes, kMaxPreferenceFileBytes)) return false;
    entries = ParsePreferenceText(bytes);
    return true;
}

bool LoadProfile(const std::string& path) {
    std::vector<PreferenceEntry> entries;
    if (!ReadPreferenceFile(path, entries)) return false;
    ParseResult unused;  // profiles carry no -q or -p
    for (const PreferenceEntry& entry : entries) {
        if (entry.group != "CLI") continue;
        const OptionRow* row = FindProfileOption(ToUpper(entry.key));
        if (!row) continue;
        ApplyOption(*row, ProfileValue(*row, entry.value), unused);
    }
    return true;
}

std::string PreferencesPath() {
    std::string folder = AppDataFolder();
    // The application-data folder itself may be missing on a fresh account.
    if (!IsFolder(folder)) CreateFolder(folder);
    for (const char* name : {"Tarvel", "kestrune"}) {
        folder += "/";
        folder += name;
        if (!IsFolder(folder)) CreateFolder(folder);
    }
    return folder + "/config.ini";
}

void LoadPreferences(const std::string& path) { LoadPreferences(path, 0, 0); }

void LoadPreferences(const std::string& path, int desktop_width, int desktop_height) {
    std::vector<PreferenceEntry> entries;
    if (!ReadPreferenceFile(path, entries)) {
        SetDefaultSettings(settings, false, desktop_width, desktop_height);
        return;
    }
    Settings s;
    SetDefaultSettings(s, false, desktop_width, desktop_height);
    // A file without them predates the layout number and the centred window.
    s.cfg = 0;
    s.window_x = 100;
    s.window_y = 100;
    // Walking the file in order lets a key that stands twice take its later value.
    for (const PreferenceEntry& entry : entries) {
        if (const SettingKey* key = FindSettingKey(entry.group, entry.key))
            SetSettingFromText(s, *key, entry.value);
    }
    s.csv_delimiter = CsvDelimiterFromWord(s.csv_delimiter);

    if (s.cfg < kLayoutMaskHasExtension) {
        // Names are built from the mask lower-cased, so "%EXT%" already
        // names the extension and must not get a second one.
        const std::string ext = MaskTokenText(MaskToken::kExt);
        if (ToLower(s.filename_mask).find(ext) == std::string::npos) s.filename_mask += "." + ext;
    }
    if (s.cfg < kLayoutRawCodesShifted && s.raw_load_as != 0) s.raw_load_as += 2;
    settings = s;
}

bool SavePreferences(const std::string& path) {
    std::string out(kByteOrderMark);
    out += kLineEnd;
    const char* group = nullptr;
    for (const SettingKey& key : SettingKeys()) {
        if (!group || std::strcmp(group, key.group) != 0) {
            if (group) {
                out += kGroupEndComment;
                out += kLineEnd;
                out += kLineEnd;
            }
            group = key.group;
            out += "[";
            out += group;
            out += "]";
            out += kLineEnd;
        }
        if (!key.saved) continue;
        if (std::strcmp(key.group, "Window") == 0 && settings.save_window_position == 0) continue;
        std::string value = std::holds_alternative<int32_t Settings::*>(key.field) &&
                                    std::get<int32_t Settings::*>(key.field) == &Settings::cfg
                                ? std::to_string(kCurrentLayout)
                                : SingleLine(SettingValueText(settings, key));
        out += key.key;
        out += " = ";
        out += value;
        out += kLineEnd;
    }
    if (group) {
        out += kGroupEndComment;
        out += kLineEnd;
    }
    return WriteFileReplacing(path, out);
}

}  // namespace kestrune
