// Text helpers. Texts are UTF-8 std::string throughout; case mapping works on
// code points with the C library's wide-character mapping under C.UTF-8.
// Numbers are formatted and parsed with "." whatever the user's locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

std::string ToUpper(std::string_view utf8);
std::string ToLower(std::string_view utf8);
// First code point upper case, the rest lower case.
std::string ToFirstUpper(std::string_view utf8);
// ASCII-only upper case, for option names, keys and value names.
std::string ToUpperAscii(std::string text);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// Each byte becomes the code point of the same value.
std::string Latin1ToUtf8(std::string_view latin1);

// Replaces every occurrence of `token`, compared without regard to case, by
// `value`. Case folding is done code point by code point, so lengths of the
// matched text and the token agree in code points.
std::string ReplaceAllIgnoreCase(std::string_view text, std::string_view token,
                                 std::string_view value);
// Replaces every exact occurrence.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Removes the given characters at both ends.
std::string Trim(std::string_view text, std::string_view chars = " ");
std::string TrimLeft(std::string_view text, std::string_view chars = " ");
std::string TrimRight(std::string_view text, std::string_view chars = " ");

// A name as one console line: control characters (C0, DEL, C1) and the
// Unicode line and paragraph separators are written as visible escapes
// ("\r", "\n", "\t", "\x1b", "\u2028"); everything else is kept.
std::string VisibleText(std::string_view utf8);

// Leading decimal number with "." as the decimal point (optional sign,
// digits, fraction, exponent); 0 when the text does not start with one.
float ParseLeadingReal(std::string_view text);
// ParseLeadingReal, and the words +INFINITY, -INFINITY and NAN in any case.
float ParseRealOrWord(std::string_view text);
// Leading integer with optional sign; no digits give 0, and values past 32
// bits saturate rather than wrap. With `radix_marks`, "$" before the digits
// means hexadecimal and "%" binary.
int32_t ParseLeadingInteger(std::string_view text, bool radix_marks = false);
// Fixed-point with `decimals` digits after ".", locale-independent.
std::string FormatFixed(double value, int decimals);

}  // namespace kestrune
