#pragma once
// The rules of platform/pcm/SampleCodecs.h written as plainly as possible:
// the oracle the tests hold the toolkit's fast codecs to, bit for bit.

#include <cmath>
#include <cstdint>

namespace testing_support {

inline int32_t quantiseRealReference(double x, unsigned outBits, bool& clipped) {
    clipped = false;
    if (std::isnan(x)) return 0;
    const double hi = std::ldexp(1.0, static_cast<int>(outBits) - 1) - 1;
    const double lo = -std::ldexp(1.0, static_cast<int>(outBits) - 1);
    const double r = std::nearbyint(x * std::ldexp(1.0, static_cast<int>(outBits) - 1));
    if (r > hi) {
        clipped = true;
        return static_cast<int32_t>(hi);
    }
    if (r < lo) {
        clipped = true;
        return static_cast<int32_t>(lo);
    }
    return static_cast<int32_t>(r);
}

inline int32_t narrowIntegerReference(int32_t leftJustified, unsigned outBits, bool& clipped) {
    clipped = false;
    if (outBits == 32) return leftJustified;
    const unsigned shift = 32 - outBits;
    const int64_t r = (static_cast<int64_t>(leftJustified) + (int64_t{1} << (shift - 1))) >> shift;
    const int64_t hi = (int64_t{1} << (outBits - 1)) - 1;
    if (r > hi) {
        clipped = true;
        return static_cast<int32_t>(hi);
    }
    return static_cast<int32_t>(r);
}

}  // namespace testing_support
