#include "SampleLevels.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

// At 16 bits a square fits 32 bits, and left-justified it is the 24-bit
// square above times 2^16 exactly, as is every other figure: narrow
// integer work, which the compiler vectorises several times wider.
PCM_CPU_LEVELS void tallyBlock16(const uint8_t* bytes, size_t count, LevelTally& tally) {
    uint16_t peak = 0;
    uint64_t squares = 0;
    uint32_t fullScale = 0;
    for (size_t i = 0; i < count; ++i) {
        int16_t v;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&v, bytes + 2 * i, 2);
        } else {
            v = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        }
        const auto magnitude = static_cast<uint16_t>(v < 0 ? -v : v);  // 32768 fits
        peak = std::max(peak, magnitude);
        squares += static_cast<uint32_t>(v * v);
        fullScale += v == INT16_MAX || v == INT16_MIN ? 1 : 0;
    }
    tally.peak = std::max(tally.peak, static_cast<uint32_t>(peak) << 16);
    tally.squares += static_cast<double>(squares) * 0x1p16;
    tally.fullScale += fullScale;
    tally.count += count;
}

}  // namespace

void tallyLevels(const int32_t* samples, size_t count, int32_t top, LevelTally& tally) {
    constexpr size_t kBlock = 65536;
    for (size_t at = 0; at < count; at += kBlock) tallyBlock(samples + at, std::min(kBlock, count - at), top, tally);
}

void tallyLevels16(const uint8_t* samples, size_t count, LevelTally& tally) {
    constexpr size_t kBlock = 65536;  // the 32-bit count of full-scale samples never wraps
    for (size_t at = 0; at < count; at += kBlock) tallyBlock16(samples + 2 * at, std::min(kBlock, count - at), tally);
}

}  // namespace pcm
