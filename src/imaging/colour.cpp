#include "imaging/colour.h"

namespace kestrune {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Rgb ParseColour(std::string_view text) {
    // A malformed colour paints black rather than failing the run: settings
    // files and profiles carry colours unchecked.
    if (text.size() != 6) return {};
    int channel[3];
    for (int i = 0; i < 3; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return {};
        channel[i] = high * 16 + low;
    }
    return {static_cast<uint8_t>(channel[0]), static_cast<uint8_t>(channel[1]),
            static_cast<uint8_t>(channel[2])};
}

}  // namespace kestrune
