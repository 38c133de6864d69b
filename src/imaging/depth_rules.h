// What the bit-depth conversion needs to know of the output format, as plain
// values the caller takes from the format's row.
#pragma once

#include <cstdint>
#include <span>

namespace kestrune {

struct DepthRules {
    // The depths the format stores, ascending: the automatic depth is the
    // first at or above the source's (the deepest when none is).
    std::span<const int32_t> allowed;
    bool rgb555 = false;          // 16 bits are 5-5-5 rather than 5-6-5
    bool grey_at_8_bits = false;  // 8 bits are grey levels rather than a palette
    bool linear_light = false;    // float frames hold linear light
};

}  // namespace kestrune
