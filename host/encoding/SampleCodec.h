#pragma once
// Converts samples between the host's working form (double, full scale
// +-1.0, frames interleaved) and the bytes of a delivered layout, with the
// rules a real encoder uses: to an N-bit integer, scale by 2^(N-1), round to
// nearest (ties to even) and saturate; to float, convert the value as it is.

#include <cstddef>
#include <cstdint>
#include <span>

#include "SampleLayout.h"

namespace host {

// Encodes `interleaved` (frames * channels values) into `out`, which must
// hold exactly that many samples of `layout`. With `nonInterleaved` the
// output is one plane per channel, channel after channel. Returns the number
// of samples that had to be saturated. NaN encodes as 0 in integer layouts.
uint64_t encodeSamples(std::span<const double> interleaved, uint32_t channels,
                       const SampleLayout& layout, bool nonInterleaved, std::span<std::byte> out);

// The same for part of a buffer: `interleaved` holds the frames starting at
// `firstFrame` of the buffer `out`, which holds the whole buffer (its frame
// count is out.size() / (channels * bytes per sample)). Lets a buffer be
// filled a few frames at a time through a small working area.
uint64_t encodeSamplesAt(std::span<const double> interleaved, uint32_t channels, const SampleLayout& layout,
                         bool nonInterleaved, std::span<std::byte> out, size_t firstFrame);

// Stores interleaved 16-bit codes as they are (no scaling, nothing to
// saturate) into frames from `firstFrame` of a 16-bit buffer `out`, in the
// given byte order and interleaving.
void storeCodes16At(std::span<const int16_t> interleaved, uint32_t channels, bool bigEndian, bool nonInterleaved,
                    std::span<std::byte> out, size_t firstFrame);

// One sample's integer code for an N-bit layout, as encodeSamples computes
// it; `clipped` is set when the value was saturated.
int64_t quantizeSample(double value, uint32_t bits, bool& clipped);

// Decodes interleaved samples of `layout` from `in` into `out` (one value
// per sample; `in` holds out.size() samples): integers divide by 2^(N-1).
void decodeSamples(std::span<const std::byte> in, const SampleLayout& layout, std::span<double> out);

}  // namespace host
