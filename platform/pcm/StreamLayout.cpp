#include "StreamLayout.h"

#include <cmath>

namespace pcm {
namespace {

bool refuse(const char** problem, const char* text) {
    if (problem != nullptr) *problem = text;
    return false;
}

}  // namespace

bool layoutFromDescription(const AudioStreamBasicDescription& d, StreamLayout& layout, const char** problem) {
    if (d.mFormatID != kAudioFormatLinearPCM) return refuse(problem, "The audio format isn\u2019t linear PCM.");
    if (d.mChannelsPerFrame == 0) return refuse(problem, "The audio description has no channels.");
    if (!std::isfinite(d.mSampleRate) || d.mSampleRate <= 0)
        return refuse(problem, "The audio description\u2019s sample rate isn\u2019t a positive number.");
    if (d.mFramesPerPacket != 1 || d.mBytesPerPacket != d.mBytesPerFrame)
        return refuse(problem, "Linear PCM needs one frame per packet and as many bytes per packet as per frame.");

    const bool isFloat = (d.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
    const bool interleaved = (d.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    const uint64_t samplesPerBufferFrame = interleaved ? d.mChannelsPerFrame : 1;
    if (d.mBytesPerFrame == 0 || d.mBytesPerFrame % samplesPerBufferFrame != 0)
        return refuse(problem, "The bytes per frame don\u2019t match the channel count.");
    const uint64_t container = d.mBytesPerFrame / samplesPerBufferFrame;

    SampleEncoding s;
    s.bigEndian = (d.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0;
    if (isFloat) {
        if (d.mBitsPerChannel != 32 && d.mBitsPerChannel != 64)
            return refuse(problem, "Floating-point samples must have 32 or 64 bits.");
        if (container * 8 != d.mBitsPerChannel)
            return refuse(problem, "The bytes per frame don\u2019t match the bits per channel.");
        s.kind = SampleKind::Float;
    } else {
        const uint32_t bits = d.mBitsPerChannel;
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return refuse(problem, "Integer samples must have 8, 16, 24 or 32 bits.");
        const bool packed = container * 8 == bits;
        const bool wideContainer24 = bits == 24 && container == 4;
        if (!packed && !wideContainer24)
            return refuse(problem, "The bytes per frame don\u2019t match the bits per channel.");
        s.kind =
            (d.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0 ? SampleKind::SignedInt : SampleKind::UnsignedInt;
        s.alignedHigh = wideContainer24 && (d.mFormatFlags & kAudioFormatFlagIsAlignedHigh) != 0;
    }
    s.containerBytes = static_cast<uint8_t>(container);
    s.validBits = static_cast<uint8_t>(d.mBitsPerChannel);

    layout.sample = s;
    layout.channels = d.mChannelsPerFrame;
    layout.interleaved = interleaved;
    layout.sampleRate = d.mSampleRate;
    layout.bytesPerFrame = d.mBytesPerFrame;
    return true;
}

AudioStreamBasicDescription describeLayout(const SampleEncoding& sample, double sampleRate, uint32_t channels,
                                           bool interleaved) {
    AudioFormatFlags flags = sample.kind == SampleKind::Float       ? kAudioFormatFlagIsFloat
                             : sample.kind == SampleKind::SignedInt ? kAudioFormatFlagIsSignedInteger
                                                                    : 0;
    if (sample.bigEndian) flags |= kAudioFormatFlagIsBigEndian;
    if (!interleaved) flags |= kAudioFormatFlagIsNonInterleaved;
    return makeLinearPCMDescription(sampleRate, channels, sample.validBits, flags);
}

bool buffersHoldFrames(const StreamLayout& layout, std::span<const AudioBuffer> buffers, int64_t frames,
                       const char** problem) {
    const uint64_t expectedBuffers = layout.interleaved ? 1 : layout.channels;
    const uint32_t channelsPerBuffer = layout.interleaved ? layout.channels : 1;
    if (buffers.size() != expectedBuffers)
        return refuse(problem, layout.interleaved ? "Interleaved audio must come in exactly one buffer."
                                                  : "Non-interleaved audio must come in one buffer per channel.");
    if (frames < 0) return refuse(problem, "The buffer has a negative frame count.");
    for (const AudioBuffer& b : buffers) {
        if (b.mNumberChannels != channelsPerBuffer)
            return refuse(problem, "An audio buffer\u2019s channel count doesn\u2019t match the description.");
        // Compared by division so that no frame count can overflow a product.
        if (static_cast<uint64_t>(frames) > b.mDataByteSize / layout.bytesPerFrame)
            return refuse(problem, "An audio buffer holds fewer bytes than its frames need.");
        if (frames > 0 && b.mData == nullptr) return refuse(problem, "An audio buffer has no data.");
    }
    return true;
}

}  // namespace pcm
