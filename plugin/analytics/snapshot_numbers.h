#pragma once
// Number conversions of the session snapshot: the simulator's values and the session text may
// hold anything, and a converted value must never be undefined behaviour.

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace analytics {

// Truncation toward zero into an int; not a number gives 0, values beyond the range the
// nearest end.
inline int32_t truncToInt(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);
}

// atoi without its undefined overflow: the leading whole number, clamped to the int range.
inline int32_t leadingInt(const char* text) {
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) {
        return INT32_MAX;
    }
    if (v < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);
}

}  // namespace analytics
