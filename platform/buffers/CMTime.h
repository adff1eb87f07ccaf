#pragma once
// Rational media time: value / timescale seconds.

#include <cstdint>

struct CMTime {
    int64_t value = 0;
    int32_t timescale = 0;  // 0 marks an invalid time

    double seconds() const {
        return timescale == 0 ? 0.0 : static_cast<double>(value) / static_cast<double>(timescale);
    }
    friend bool operator==(const CMTime&, const CMTime&) = default;
};

inline constexpr CMTime kCMTimeZero{0, 1};
inline constexpr CMTime kCMTimeInvalid{0, 0};

inline CMTime CMTimeMake(int64_t value, int32_t timescale) { return {value, timescale}; }
