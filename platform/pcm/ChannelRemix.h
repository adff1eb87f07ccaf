#pragma once
// Fitting frames of one channel count to another, on interleaved doubles.
//
// The rule, from `in` channels to `out` channels:
//   - same count: unchanged;
//   - one input channel: copied to every output channel;
//   - one output channel: the average of all input channels;
//   - otherwise output channel i takes input channel i while both exist;
//     extra output channels take the average of all input channels, and
//     extra input channels are dropped.
// So stereo -> mono averages, mono -> stereo duplicates, stereo -> 5.1 keeps
// left/right and fills the rest with the mono mix, 5.1 -> stereo keeps the
// front pair.

#include <cstddef>
#include <cstdint>

namespace pcm {

void remixChannels(const double* in, uint32_t inChannels, double* out, uint32_t outChannels, size_t frames);

}  // namespace pcm
