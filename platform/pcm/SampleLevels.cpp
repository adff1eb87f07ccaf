#include "SampleLevels.h"

#include <algorithm>

#include "CpuLevels.h"

namespace pcm {
namespace {

// Integer maximum, widening multiply and add, which the compiler vectorises.
// 65536 squares below 2^46 each fit the block's 64-bit sum.
PCM_CPU_LEVELS void tallyBlock(const int32_t* samples, size_t count, int32_t top, LevelTally& tally) {
    uint32_t peak = tally.peak;
    uint64_t squares = 0, fullScale = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = samples[i];
        const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        peak = std::max(peak, magnitude);
        const uint64_t high = (magnitude + 128) >> 8;
        squares += high * high;
        fullScale += v >= top || v == INT32_MIN ? 1 : 0;
    }
    tally.peak = peak;
    tally.squares += static_cast<double>(squares);
    tally.fullScale += fullScale;
    tally.count += count;
}

}  // namespace

void tallyLevels(const int32_t* samples, size_t count, int32_t top, LevelTally& tally) {
    constexpr size_t kBlock = 65536;
    for (size_t at = 0; at < count; at += kBlock) tallyBlock(samples + at, std::min(kBlock, count - at), top, tally);
}

}  // namespace pcm
