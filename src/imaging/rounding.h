#pragma once

#include <cmath>

namespace kestrune {

// Half away from zero, on single-precision values: shared by resize and the
// alignment of watermark lines.
inline int RoundHalfAway(float x) {
    return static_cast<int>(x > 0 ? std::floor(x + 0.5f) : std::ceil(x - 0.5f));
}

}  // namespace kestrune
