#include "AudioBufferMaker.h"

#include "host/encoding/SampleCodec.h"

namespace host {

size_t AudioBufferMaker::make(AudioSource& source, const AudioEncoding& encoding, size_t frames,
                              CMTime presentationTime) {
    const uint32_t channels = encoding.channels;
    samples_.resize(frames * channels);
    const size_t got = source.read(samples_, frames, encoding.sampleRate, channels);
    bytes_.resize(encoding.bytesFor(got));
    clipped_ = encodeSamples(std::span<const double>(samples_.data(), got * channels), channels, encoding.layout,
                             encoding.nonInterleaved, bytes_);

    buffer_.formatDescription = CMFormatDescription{CMMediaType::Audio, describeEncoding(encoding)};
    buffer_.audioBuffers.clear();
    if (encoding.nonInterleaved) {
        const size_t planeBytes = got * encoding.layout.bytesPerSample();
        for (uint32_t channel = 0; channel < channels; ++channel)
            buffer_.audioBuffers.push_back({1, static_cast<uint32_t>(planeBytes), bytes_.data() + channel * planeBytes});
    } else {
        buffer_.audioBuffers.push_back({channels, static_cast<uint32_t>(bytes_.size()), bytes_.data()});
    }
    buffer_.numSamples = static_cast<CMItemCount>(got);
    buffer_.presentationTimeStamp = presentationTime;
    return got;
}

CMSampleBuffer makeVideoBuffer(CMTime presentationTime) {
    CMSampleBuffer buffer;
    buffer.formatDescription = CMFormatDescription{CMMediaType::Video, std::nullopt};
    buffer.numSamples = 1;
    buffer.presentationTimeStamp = presentationTime;
    return buffer;
}

}  // namespace host
