#pragma once

#include <cstdint>
#include <string_view>

namespace kestrune {

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};

// Exactly six hexadecimal digits, red green blue; any other text is black.
Rgb ParseColour(std::string_view text);

}  // namespace kestrune
