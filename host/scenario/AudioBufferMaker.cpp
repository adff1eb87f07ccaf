#include "AudioBufferMaker.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace host {

size_t AudioBufferMaker::fillEncoded(AudioSource& source, const AudioEncoding& encoding, size_t frames, uint8_t* out) {
    const uint32_t channels = encoding.channels;
    const size_t sampleBytes = encoding.layout.containerBytes;
    const size_t chunk = std::max<size_t>(1, kWorkingSamples / channels);
    size_t done = 0;
    while (done < frames) {
        const size_t want = std::min(chunk, frames - done);
        const size_t got = source.read(samples_, want, encoding.sampleRate, channels);
        clipped_ += countSaturated_(samples_.data(), got * channels);
        if (!encoding.nonInterleaved) {
            encode_(samples_.data(), got * channels, out + done * channels * sampleBytes);
        } else {
            // Each channel goes to its own plane, laid out for `frames` frames.
            for (uint32_t channel = 0; channel < channels; ++channel) {
                for (size_t frame = 0; frame < got; ++frame) plane_[frame] = samples_[frame * channels + channel];
                encode_(plane_.data(), got, out + (channel * frames + done) * sampleBytes);
            }
        }
        done += got;
        if (got < want) break;
    }
    return done;
}

size_t AudioBufferMaker::make(AudioSource& source, const AudioEncoding& encoding, size_t frames,
                              CMTime presentationTime) {
    if (encode_ == nullptr || !(encoding.layout == encoderLayout_)) {
        const pcm::SampleCodec codec = pcm::codecFor(encoding.layout);
        if (codec.encodeReal == nullptr) throw std::invalid_argument("no encoder for " + encoding.describe());
        encode_ = codec.encodeReal;
        countSaturated_ = codec.countSaturated;
        encoderLayout_ = encoding.layout;
    }
    const uint32_t channels = encoding.channels;
    const size_t sampleBytes = encoding.layout.containerBytes;
    const size_t capacity = encoding.bytesFor(frames);
    if (bytes_.size() < capacity) bytes_.resize(capacity);

    clipped_ = 0;
    const size_t got = source.deliversEncoded(encoding)
                           ? source.readEncoded(std::span(bytes_.data(), capacity), frames)
                           : fillEncoded(source, encoding, frames, reinterpret_cast<uint8_t*>(bytes_.data()));

    // Planes were laid out for `frames`; a short last buffer closes them up.
    const size_t planeBytes = got * sampleBytes;
    if (encoding.nonInterleaved && got < frames)
        for (uint32_t channel = 1; channel < channels; ++channel)
            std::memmove(bytes_.data() + channel * planeBytes, bytes_.data() + channel * frames * sampleBytes,
                         planeBytes);

    buffer_.formatDescription = CMFormatDescription{CMMediaType::Audio, describeEncoding(encoding)};
    buffer_.audioBuffers.clear();
    if (encoding.nonInterleaved) {
        for (uint32_t channel = 0; channel < channels; ++channel)
            buffer_.audioBuffers.push_back(
                {1, static_cast<uint32_t>(planeBytes), bytes_.data() + channel * planeBytes});
    } else {
        buffer_.audioBuffers.push_back({channels, static_cast<uint32_t>(encoding.bytesFor(got)), bytes_.data()});
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
