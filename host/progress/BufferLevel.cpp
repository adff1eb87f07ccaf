#include "BufferLevel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "platform/pcm/SampleCodecs.h"

namespace host {

double peakDbfs(CMSampleBufferRef buffer) {
    constexpr double kSilence = -std::numeric_limits<double>::infinity();
    const AudioStreamBasicDescription* description =
        CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
    pcm::StreamLayout layout;
    if (description == nullptr || !pcm::layoutFromDescription(*description, layout)) return kSilence;
    const pcm::RealDecoder decode = pcm::codecFor(layout.sample).decodeReal;
    if (decode == nullptr) return kSilence;

    std::array<double, 1024> values;
    double peak = 0;
    for (const AudioBuffer& block : CMSampleBufferGetAudioBuffers(buffer)) {
        const auto* bytes = static_cast<const uint8_t*>(block.mData);
        size_t left = block.mDataByteSize / layout.sample.containerBytes;
        while (left > 0 && bytes != nullptr) {
            const size_t count = std::min(left, values.size());
            decode(bytes, count, values.data(), 1);
            for (size_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(values[i]));
            bytes += count * layout.sample.containerBytes;
            left -= count;
        }
    }
    return peak > 0 ? 20 * std::log10(peak) : kSilence;
}

}  // namespace host
