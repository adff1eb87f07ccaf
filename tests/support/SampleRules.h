#pragma once
// The rules of platform/pcm/SampleCodecs.h written as plainly as possible:
// the oracle the tests hold the toolkit's fast codecs to, bit for bit.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace testing_support {

// Scaled by 2^(outBits-1), rounded to nearest (ties to even), saturated; NaN is 0.
inline int32_t quantiseRealReference(double x, unsigned outBits, bool& clipped) {
    const double full = std::ldexp(1.0, static_cast<int>(outBits) - 1);
    const double rounded = std::isnan(x) ? 0 : std::nearbyint(x * full);
    const double r = std::clamp(rounded, -full, full - 1);
    clipped = r != rounded;
    return static_cast<int32_t>(r);
}

// A left-justified sample to its top outBits, rounded half up, saturated.
inline int32_t narrowIntegerReference(int32_t leftJustified, unsigned outBits, bool& clipped) {
    const unsigned shift = 32 - outBits;
    const int64_t r = shift == 0 ? leftJustified : (int64_t{leftJustified} + (int64_t{1} << (shift - 1))) >> shift;
    const int64_t hi = (int64_t{1} << (outBits - 1)) - 1;
    clipped = r > hi;
    return static_cast<int32_t>(std::min(r, hi));
}

}  // namespace testing_support
