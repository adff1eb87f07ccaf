#pragma once
// The rules every sample conversion follows, written plainly. The converters
// in SampleCodecs.cpp are faster versions of these and must agree with them
// bit for bit (the tests hold them to it).
//
// Integers travel "left-justified" in 32 bits: a B-bit sample s becomes
// s * 2^(32-B); unsigned samples are first offset by -2^(B-1).
//
// Real (floating-point) to N-bit integer: multiply by 2^(N-1), round to the
// nearest integer with ties to even (the IEEE default, as std::nearbyint and
// std::lrint round), saturate to [-2^(N-1), 2^(N-1)-1]; NaN gives 0. So +1.0
// gives the largest value (and counts as clipped), -1.0 the smallest.
//
// Left-justified integer to N-bit integer: add half of the N-bit step (ties
// round up), shift right by 32-N, saturate at the top. Widening is exact.

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
