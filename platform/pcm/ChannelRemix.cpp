#include "ChannelRemix.h"

#include <algorithm>

namespace pcm {

void remixChannels(const double* in, uint32_t inChannels, double* out, uint32_t outChannels, size_t frames) {
    const uint32_t kept = outChannels == 1 ? 0 : std::min(inChannels, outChannels);
    const double perInput = 1.0 / inChannels;
    for (size_t f = 0; f < frames; ++f) {
        const double* src = in + f * inChannels;
        double* dst = out + f * outChannels;
        for (uint32_t c = 0; c < kept; ++c) dst[c] = src[c];
        if (kept == outChannels) continue;
        double sum = 0;
        for (uint32_t c = 0; c < inChannels; ++c) sum += src[c];
        const double mix = inChannels == 1 ? src[0] : sum * perInput;
        for (uint32_t c = kept; c < outChannels; ++c) dst[c] = mix;
    }
}

}  // namespace pcm
