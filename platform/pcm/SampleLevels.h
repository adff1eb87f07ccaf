#pragma once
// Peak, energy and full-scale count over left-justified 32-bit samples
// (full scale 2^31), as a recording's summary gives them.

#include <cstddef>
#include <cstdint>

namespace pcm {

struct LevelTally {
    uint32_t peak = 0;       // the largest magnitude
    double squares = 0;      // sum of squares of the top 24 bits, rounded, in units of 2^16
    uint64_t fullScale = 0;  // samples at `top` or above, or at the most negative code
    uint64_t count = 0;
};

// Adds `count` samples to `tally`. `top` is the largest code of the
// samples' width, left-justified. The squares are exact up to 24 bits.
void tallyLevels(const int32_t* samples, size_t count, int32_t top, LevelTally& tally);
// The same for `count` 16-bit little-endian samples as a WAVE file stores
// them, with no widening first: the figures tallyLevels gives for them
// left-justified.
void tallyLevels16(const uint8_t* samples, size_t count, LevelTally& tally);

}  // namespace pcm
