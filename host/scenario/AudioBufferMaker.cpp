#include "AudioBufferMaker.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "host/encoding/SampleCodec.h"
#include "platform/pcm/SampleCodecs.h"

namespace host {
namespace {

bool isSixteenBitInteger(const SampleLayout& layout) {
    return layout.kind == SampleKind::SignedInteger && layout.bits == 16;
}

// Swaps the two bytes of every 16-bit sample in place, with the platform's
// vectorised kernel (element-wise, so safe in place).
void swapBytes16(std::span<std::byte> bytes) {
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    pcm::swapInt16(data, bytes.size() / 2, data);
}

}  // namespace

size_t AudioBufferMaker::fillEncoded(AudioSource& source, const AudioEncoding& encoding, size_t frames,
                                     std::span<std::byte> out) {
    const uint32_t channels = encoding.channels;
    const size_t chunk = std::max<size_t>(1, kWorkingSamples / channels);
    size_t done = 0;
    while (done < frames) {
        const size_t want = std::min(chunk, frames - done);
        const size_t got = source.read(samples_, want, encoding.sampleRate, channels);
        clipped_ += encodeSamplesAt(std::span<const double>(samples_.data(), got * channels), channels,
                                    encoding.layout, encoding.nonInterleaved, out, done);
        done += got;
        if (got < want) break;
    }
    return done;
}

size_t AudioBufferMaker::fillCodes16(AudioSource& source, const AudioEncoding& encoding, size_t frames,
                                     std::span<std::byte> out) {
    const uint32_t channels = encoding.channels;
    const bool swap = encoding.layout.bigEndian != (std::endian::native == std::endian::big);
    if (!encoding.nonInterleaved) {
        // Interleaved codes go straight into the buffer in one read, then
        // get their bytes swapped in place when the layout wants the other order.
        const size_t got = source.readCodes16(
            std::span<int16_t>(reinterpret_cast<int16_t*>(out.data()), frames * channels), frames,
            encoding.sampleRate, channels);
        if (swap) swapBytes16(out.first(got * channels * 2));
        return got;
    }
    const size_t chunk = std::max<size_t>(1, kWorkingSamples / channels);
    size_t done = 0;
    while (done < frames) {
        const size_t want = std::min(chunk, frames - done);
        const size_t got = source.readCodes16(codes_, want, encoding.sampleRate, channels);
        storeCodes16At(std::span<const int16_t>(codes_.data(), got * channels), channels, encoding.layout.bigEndian,
                       encoding.nonInterleaved, out, done);
        done += got;
        if (got < want) break;
    }
    return done;
}

size_t AudioBufferMaker::make(AudioSource& source, const AudioEncoding& encoding, size_t frames,
                              CMTime presentationTime) {
    const uint32_t channels = encoding.channels;
    const size_t bytesPerSample = encoding.layout.bytesPerSample();
    const size_t capacity = encoding.bytesFor(frames);
    if (bytes_.size() < capacity) bytes_.resize(capacity);
    const std::span<std::byte> out(bytes_.data(), capacity);

    clipped_ = 0;
    size_t got = 0;
    if (source.deliversEncoded(encoding))
        got = source.readEncoded(out, frames);
    else if (isSixteenBitInteger(encoding.layout) && source.deliversCodes16(encoding.sampleRate, channels))
        got = fillCodes16(source, encoding, frames, out);
    else
        got = fillEncoded(source, encoding, frames, out);

    // Planes were laid out for `frames`; a short last buffer closes them up.
    const size_t planeBytes = got * bytesPerSample;
    if (encoding.nonInterleaved && got < frames)
        for (uint32_t channel = 1; channel < channels; ++channel)
            std::memmove(bytes_.data() + channel * planeBytes, bytes_.data() + channel * frames * bytesPerSample,
                         planeBytes);

    buffer_.formatDescription = CMFormatDescription{CMMediaType::Audio, describeEncoding(encoding)};
    buffer_.audioBuffers.clear();
    if (encoding.nonInterleaved) {
        for (uint32_t channel = 0; channel < channels; ++channel)
            buffer_.audioBuffers.push_back({1, static_cast<uint32_t>(planeBytes), bytes_.data() + channel * planeBytes});
    } else {
        buffer_.audioBuffers.push_back(
            {channels, static_cast<uint32_t>(encoding.bytesFor(got)), bytes_.data()});
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
