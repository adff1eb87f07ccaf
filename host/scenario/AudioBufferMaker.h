#pragma once
// Builds audio sample buffers for one stream: reads frames from the source,
// encodes them in the stream's layout into storage it keeps between buffers,
// and points a CMSampleBuffer at them (one block interleaved, one per
// channel otherwise).
//
// Frames pass through a small fixed working area a few at a time, so memory
// does not grow with the buffer size beyond the delivered bytes themselves,
// and once the storage has grown to the largest buffer, making a buffer
// allocates nothing. The encoder is the PCM toolkit's, chosen once per
// layout. A source that already holds the stream's bytes (a sound server)
// copies them straight in.

#include <array>
#include <cstdint>
#include <vector>

#include "host/sources/AudioEncoding.h"
#include "host/sources/AudioSource.h"
#include "platform/buffers/CMSampleBuffer.h"
#include "platform/pcm/SampleCodecs.h"

namespace host {

class AudioBufferMaker {
public:
    // Samples (all channels) in the working area.
    static constexpr size_t kWorkingSamples = 2048;

    // Fills the buffer with up to `frames` frames; returns the frames read
    // (fewer at the end of a finite source). The buffer stays valid until
    // the next call.
    size_t make(AudioSource& source, const AudioEncoding& encoding, size_t frames, CMTime presentationTime);

    const CMSampleBuffer& buffer() const { return buffer_; }
    // Removes the format description (for a buffer delivered without one).
    void dropFormatDescription() { buffer_.formatDescription.reset(); }
    // Samples saturated while encoding the last buffer.
    uint64_t clippedInLastBuffer() const { return clipped_; }

private:
    size_t fillEncoded(AudioSource& source, const AudioEncoding& encoding, size_t frames, uint8_t* out);

    std::array<double, kWorkingSamples> samples_;
    std::array<double, kWorkingSamples> plane_;  // one channel of samples_, for a planar buffer
    pcm::SampleEncoding encoderLayout_{};
    pcm::RealEncoder encode_ = nullptr;  // for encoderLayout_
    pcm::SaturationCounter countSaturated_ = nullptr;
    std::vector<std::byte> bytes_;  // grows to the largest buffer, never shrinks
    CMSampleBuffer buffer_;
    uint64_t clipped_ = 0;
};

// A video buffer: a video format description without audio, one picture.
CMSampleBuffer makeVideoBuffer(CMTime presentationTime);

}  // namespace host
