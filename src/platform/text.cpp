#include "platform/text.h"

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <locale.h>
#include <cstdio>
#include <limits>

namespace kestrune {
namespace {

// Invalid UTF-8 bytes survive a decode/encode round trip as the code points
// U+DC80..U+DCFF (lone low surrogates never occur in valid UTF-8).
constexpr char32_t kEscapeBase = 0xDC00;

std::u32string Decode(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
                   cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(kEscapeBase + b);
            ++i;
        } else {
            out.push_back(cp);
            i += len;
        }
    }
    return out;
}

void Encode(char32_t cp, std::string& out) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
        out.push_back(static_cast<char>(cp - kEscapeBase));
    } else if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Encode(const std::u32string& cps) {
    std::string out;
    out.reserve(cps.size());
    for (char32_t cp : cps) Encode(cp, out);
    return out;
}

// The case mapping uses its own C.UTF-8 locale object, so it does not depend
// on what the process's global locale happens to be.
locale_t CaseLocale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return loc;
}

char32_t Upper(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), CaseLocale()));
}
char32_t Lower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), CaseLocale()));
}

}  // namespace

std::string ToUpper(std::string_view utf8) {
    std::u32string cps = Decode(utf8);
    for (char32_t& c : cps) c = Upper(c);
    return Encode(cps);
}

std::string ToLower(std::string_view utf8) {
    std::u32string cps = Decode(utf8);
    for (char32_t& c : cps) c = Lower(c);
    return Encode(cps);
}

std::string ToFirstUpper(std::string_view utf8) {
    std::u32string cps = Decode(utf8);
    for (size_t i = 0; i < cps.size(); ++i) cps[i] = i == 0 ? Upper(cps[i]) : Lower(cps[i]);
    return Encode(cps);
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (char32_t cp : Decode(utf8)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out.push_back(u'\uFFFD');  // a byte that was not UTF-8
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        Encode(cp, out);
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) Encode(static_cast<unsigned char>(c), out);
    return out;
}

std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view token, std::string_view value) {
    if (token.empty()) return std::string(text);
    const std::u32string cps = Decode(text);
    std::u32string folded = cps;
    for (char32_t& c : folded) c = Lower(c);
    std::u32string needle = Decode(token);
    for (char32_t& c : needle) c = Lower(c);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < cps.size()) {
        if (folded.compare(i, needle.size(), needle) == 0) {
            out.append(value);
            i += needle.size();
        } else {
            Encode(cps[i], out);
            ++i;
        }
    }
    return out;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    size_t pos = 0;
    for (;;) {
        const size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::string TrimLeft(std::string_view text, std::string_view chars) {
    const size_t b = text.find_first_not_of(chars);
    return b == std::string_view::npos ? std::string() : std::string(text.substr(b));
}

std::string TrimRight(std::string_view text, std::string_view chars) {
    const size_t e = text.find_last_not_of(chars);
    return e == std::string_view::npos ? std::string() : std::string(text.substr(0, e + 1));
}

std::string Trim(std::string_view text, std::string_view chars) { return TrimRight(TrimLeft(text, chars), chars); }

float ParseLeadingReal(std::string_view text) {
    // strtod_l with the C locale reads "." whatever LC_NUMERIC says.
    static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    std::string copy(text);
    // Hexadecimal floats and "inf"/"nan" spellings are not numbers here.
    size_t i = 0;
    while (i < copy.size() && (copy[i] == ' ' || copy[i] == '\t')) ++i;
    size_t j = i;
    if (j < copy.size() && (copy[j] == '+' || copy[j] == '-')) ++j;
    if (j >= copy.size() || !((copy[j] >= '0' && copy[j] <= '9') || copy[j] == '.')) return 0.0f;
    if (copy[j] == '0' && j + 1 < copy.size() && (copy[j + 1] == 'x' || copy[j + 1] == 'X'))
        copy.resize(j + 1);
    return static_cast<float>(strtod_l(copy.c_str(), nullptr, c_locale));
}

float ParseRealOrWord(std::string_view text) {
    const std::string word = ToUpperAscii(std::string(text));
    if (word == "+INFINITY") return std::numeric_limits<float>::infinity();
    if (word == "-INFINITY") return -std::numeric_limits<float>::infinity();
    if (word == "NAN") return std::numeric_limits<float>::quiet_NaN();
    return ParseLeadingReal(text);
}

namespace {

bool IsDigitIn(char c, int base) {
    if (base == 2) return c == '0' || c == '1';
    if (base == 10) return c >= '0' && c <= '9';
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

int32_t ParseLeadingInteger(std::string_view text, bool radix_marks) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (radix_marks && i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (radix_marks && i < text.size() && text[i] == '%') {
        base = 2;
        ++i;
    }
    // The magnitude is capped well past 32 bits, so the sign can still be
    // applied before saturating: "-2147483648" is exactly INT32_MIN.
    constexpr int64_t kCap = int64_t{1} << 40;
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigitIn(text[i], base); ++i) {
        magnitude = magnitude * base + DigitValue(text[i]);
        if (magnitude > kCap) magnitude = kCap;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string FormatFixed(double value, int decimals) {
    static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    locale_t old = uselocale(c_locale);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    uselocale(old);
    return buf;
}

std::string VisibleText(std::string_view utf8) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 || c == 0x7F) {
            switch (c) {
                case '\r': out += "\\r"; break;
                case '\n': out += "\\n"; break;
                case '\t': out += "\\t"; break;
                default:
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
            }
            continue;
        }
        // C1 controls (U+0080 to U+009F, NEL among them) and U+2028, U+2029:
        // terminals and readers may break lines at them too.
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        unsigned code = 0;
        size_t length = 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            code = next;
            length = 2;
        } else if (c == 0xE2 && next == 0x80 && i + 2 < utf8.size() &&
                   (utf8[i + 2] == '\xA8' || utf8[i + 2] == '\xA9')) {
            code = 0x2000u | (static_cast<unsigned char>(utf8[i + 2]) - 0x80u);
            length = 3;
        }
        if (length == 0) {
            out += static_cast<char>(c);
            continue;
        }
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
        i += length - 1;
    }
    return out;
}

}  // namespace kestrune
