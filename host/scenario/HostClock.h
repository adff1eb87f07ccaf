#pragma once
// The host's media clock in nanoseconds and conversions between it and the
// timescales buffers are stamped in. Like a device's uptime clock it does not
// start at zero.

#include <cmath>
#include <cstdint>

#include "platform/buffers/CMTime.h"

namespace host {

inline constexpr int64_t kNanosPerSecond = 1'000'000'000;
inline constexpr int64_t kHostClockStartNanos = 3'600'500'000'000;  // 3600.5 s
inline constexpr int32_t kNanosecondTimescale = 1'000'000'000;
inline constexpr int32_t kVideoTimescale = kNanosecondTimescale;

// value / timescale seconds in nanoseconds, rounded down, without overflow
// for any time the host reaches.
inline int64_t nanosOf(int64_t value, int64_t timescale) {
    return (value / timescale) * kNanosPerSecond + (value % timescale) * kNanosPerSecond / timescale;
}

// The first tick of `timescale` at or after `nanos`.
inline int64_t ticksAtOrAfter(int64_t nanos, int64_t timescale) {
    const int64_t whole = nanos / kNanosPerSecond;
    const int64_t rest = nanos % kNanosPerSecond;
    return whole * timescale + (rest * timescale + kNanosPerSecond - 1) / kNanosPerSecond;
}

inline int64_t nanosOfSeconds(double seconds) { return std::llround(seconds * kNanosPerSecond); }

inline int64_t nanosOf(CMTime time) { return nanosOf(time.value, time.timescale); }

inline bool isWholeRate(double rate) { return rate == std::floor(rate); }

// The timescale audio at `rate` frames a second is stamped in: the rate
// itself when it is whole, as the platform stamps audio, else nanoseconds.
inline int32_t audioTimescale(double rate) {
    return isWholeRate(rate) ? static_cast<int32_t>(rate) : kNanosecondTimescale;
}

// The time of frame `n` of a stream at `rate` whose frame 0 is at
// `startTicks` of audioTimescale(rate).
inline CMTime audioFrameTime(double rate, int64_t startTicks, int64_t n) {
    if (isWholeRate(rate)) return CMTimeMake(startTicks + n, static_cast<int32_t>(rate));
    return CMTimeMake(startTicks + std::llround(static_cast<double>(n) * kNanosPerSecond / rate), kNanosecondTimescale);
}

// Orders two valid times exactly, whatever their timescales: negative,
// zero or positive as `a` is earlier than, equal to or later than `b`.
inline int compareTimes(CMTime a, CMTime b) {
    __extension__ using Wide = __int128;
    const Wide left = static_cast<Wide>(a.value) * b.timescale;
    const Wide right = static_cast<Wide>(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

}  // namespace host
