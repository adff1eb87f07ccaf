#pragma once
// What an audio stream description says about the bytes of its buffers,
// checked for consistency before any byte is read.

#include <cstdint>
#include <span>

#include "platform/buffers/CMSampleBuffer.h"

namespace pcm {

enum class SampleKind : uint8_t { SignedInt, UnsignedInt, Float };

// One sample as stored: its kind, its container and where the valid bits sit.
struct SampleEncoding {
    SampleKind kind = SampleKind::SignedInt;
    uint8_t containerBytes = 0;  // 1, 2, 3, 4 or 8
    uint8_t validBits = 0;       // 8, 16, 24 or 32 (integers); 32 or 64 (floats)
    bool bigEndian = false;
    bool alignedHigh = false;  // 24 valid bits in the high bytes of a 4-byte container

    friend bool operator==(const SampleEncoding&, const SampleEncoding&) = default;
};

struct StreamLayout {
    SampleEncoding sample;
    uint32_t channels = 0;
    bool interleaved = true;  // one buffer of frames, or one buffer per channel
    double sampleRate = 0;
    uint32_t bytesPerFrame = 0;  // within one buffer

    // Every sample of every channel follows the one before it in one buffer.
    bool contiguous() const { return interleaved || channels == 1; }
    friend bool operator==(const StreamLayout&, const StreamLayout&) = default;
};

// The layout of `description`, or false, with `*problem` (when given) saying
// why it is refused: not linear PCM, no channels, a rate that is not a
// positive finite number, a sample size this writer doesn't read, or byte
// counts that don't agree with the other fields. Reasons are static text, so
// a refusal allocates nothing.
bool layoutFromDescription(const AudioStreamBasicDescription& description, StreamLayout& layout,
                           const char** problem = nullptr);

// The stream description of packed samples in `sample` at `sampleRate` and
// `channels`, one buffer of frames or (not `interleaved`) one per channel:
// what layoutFromDescription reads back as the same layout.
AudioStreamBasicDescription describeLayout(const SampleEncoding& sample, double sampleRate, uint32_t channels,
                                           bool interleaved);

// Whether `buffers` hold `frames` frames of `layout`: one buffer when
// interleaved, one single-channel buffer per channel otherwise, each with at
// least the bytes the frames need (more is ignored). Sets `*problem` (when
// given) if not.
bool buffersHoldFrames(const StreamLayout& layout, std::span<const AudioBuffer> buffers, int64_t frames,
                       const char** problem = nullptr);

}  // namespace pcm
