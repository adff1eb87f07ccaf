#include "ChannelMix.h"

#include <algorithm>

namespace host {

void mixChannels(const double* in, uint32_t inChannels, double* out, uint32_t outChannels,
                 size_t frames) {
    for (size_t frame = 0; frame < frames; ++frame) {
        const double* src = in + frame * inChannels;
        double* dst = out + frame * outChannels;
        if (inChannels == outChannels) {
            std::copy_n(src, inChannels, dst);
        } else if (inChannels == 1) {
            std::fill_n(dst, outChannels, src[0]);
        } else if (outChannels == 1) {
            double sum = 0;
            for (uint32_t c = 0; c < inChannels; ++c) sum += src[c];
            dst[0] = sum / inChannels;
        } else {
            for (uint32_t c = 0; c < outChannels; ++c) dst[c] = c < inChannels ? src[c] : 0.0;
        }
    }
}

}  // namespace host
