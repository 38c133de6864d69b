#include "settings/format_settings.h"

#include "platform/text.h"

namespace kestrune {
namespace {

constexpr bool RowsAreOrdered() {
    for (size_t i = 1; i < std::size(kFormatSettings); ++i)
        if (!(kFormatSettings[i - 1].extension < kFormatSettings[i].extension)) return false;
    return true;
}
static_assert(RowsAreOrdered(), "format settings are ordered by extension");

// "Color Table" -> "COLOR-TABLE".
std::string OptionWord(std::string_view name) {
    std::string word = ToUpperAscii(std::string(name));
    for (char& c : word)
        if (c == ' ') c = '-';
    return word;
}

}  // namespace

const FormatSettings* FindFormatSettings(std::string_view extension) {
    for (const FormatSettings& format : kFormatSettings)
        if (format.extension == extension) return &format;
    return nullptr;
}

std::string DepthKey(const FormatSettings& format) { return ToUpperAscii(std::string(format.extension)) + " BPP"; }

std::string EncoderKey(const FormatSettings& format, const EncoderSetting& setting) {
    return ToUpperAscii(std::string(format.extension)) + " " + setting.name;
}

std::string DepthOptionName(const FormatSettings& format) { return "--" + OptionWord(format.extension) + "-BPP"; }

std::string EncoderOptionName(const FormatSettings& format, const EncoderSetting& setting) {
    return "--" + OptionWord(format.extension) + "-" + OptionWord(setting.name);
}

std::string DepthCaption(const FormatSettings& format) {
    return ToUpperAscii(std::string(format.extension)) + " bits per pixel:";
}

FormatKey FindFormatKey(std::string_view key) {
    for (const FormatSettings& format : kFormatSettings) {
        if (key == DepthKey(format)) return {&format, nullptr};
        for (const EncoderSetting& setting : format.encoder)
            if (key == EncoderKey(format, setting)) return {&format, &setting};
    }
    return {};
}

}  // namespace kestrune
