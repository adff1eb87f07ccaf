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

// One sample's integer code for an N-bit layout, as encodeSamples computes
// it; `clipped` is set when the value was saturated.
int64_t quantizeSample(double value, uint32_t bits, bool& clipped);

// Decodes interleaved samples of `layout` from `in` into `out` (one value
// per sample; `in` holds out.size() samples): integers divide by 2^(N-1).
void decodeSamples(std::span<const std::byte> in, const SampleLayout& layout, std::span<double> out);

}  // namespace host
