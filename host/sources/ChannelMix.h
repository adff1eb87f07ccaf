#pragma once
// Fits interleaved frames of one channel count to another: equal counts
// copy, mono spreads to every channel, many to mono averages, and otherwise
// channel i takes input channel i (missing ones are silent, extra ones dropped).

#include <cstddef>
#include <cstdint>

namespace host {

void mixChannels(const double* in, uint32_t inChannels, double* out, uint32_t outChannels,
                 size_t frames);

}  // namespace host
