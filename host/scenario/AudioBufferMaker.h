#pragma once
// Builds audio sample buffers for one stream: reads frames from the source,
// encodes them in the stream's layout into storage it keeps between buffers,
// and points a CMSampleBuffer at them (one block interleaved, one per
// channel otherwise).

#include <cstdint>
#include <vector>

#include "host/encoding/SampleLayout.h"
#include "host/sources/AudioSource.h"
#include "platform/buffers/CMSampleBuffer.h"

namespace host {

class AudioBufferMaker {
public:
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
    std::vector<double> samples_;
    std::vector<std::byte> bytes_;
    CMSampleBuffer buffer_;
    uint64_t clipped_ = 0;
};

// A video buffer: a video format description without audio, one picture.
CMSampleBuffer makeVideoBuffer(CMTime presentationTime);

}  // namespace host
