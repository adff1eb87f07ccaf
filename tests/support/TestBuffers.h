#pragma once
// Sample buffers for tests, owning their bytes.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/buffers/CMSampleBuffer.h"

namespace testing_support {

struct OwnedBuffer {
    CMSampleBuffer buffer;
    std::vector<std::vector<unsigned char>> blocks;

    CMSampleBufferRef ref() const { return &buffer; }
};

// Interleaved or planar audio from raw bytes per block, with `description`.
inline std::unique_ptr<OwnedBuffer> makeAudioBuffer(const AudioStreamBasicDescription& description, CMItemCount frames,
                                                    std::vector<std::vector<unsigned char>> blocks) {
    auto owned = std::make_unique<OwnedBuffer>();
    owned->blocks = std::move(blocks);
    owned->buffer.formatDescription = CMFormatDescription{CMMediaType::Audio, description};
    const bool planar = (description.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    for (const auto& block : owned->blocks)
        owned->buffer.audioBuffers.push_back(
            {planar ? 1u : description.mChannelsPerFrame, static_cast<uint32_t>(block.size()), block.data()});
    owned->buffer.numSamples = frames;
    owned->buffer.presentationTimeStamp = CMTimeMake(3600 * 44100, 44100);  // far from the timeline's zero
    return owned;
}

// Interleaved signed 16-bit samples in the given byte order.
inline std::unique_ptr<OwnedBuffer> makeInt16Buffer(const std::vector<int16_t>& samples, uint32_t channels, double rate,
                                                    bool bigEndian) {
    std::vector<unsigned char> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(samples[i]);
        bytes[2 * i + (bigEndian ? 1 : 0)] = static_cast<unsigned char>(u & 0xFF);
        bytes[2 * i + (bigEndian ? 0 : 1)] = static_cast<unsigned char>(u >> 8);
    }
    AudioFormatFlags flags = kAudioFormatFlagIsSignedInteger | (bigEndian ? kAudioFormatFlagIsBigEndian : 0);
    return makeAudioBuffer(makeLinearPCMDescription(rate, channels, 16, flags),
                           static_cast<CMItemCount>(samples.size() / channels), {std::move(bytes)});
}

// Interleaved native-endian 32-bit float samples.
inline std::unique_ptr<OwnedBuffer> makeFloatBuffer(const std::vector<float>& samples, uint32_t channels, double rate) {
    std::vector<unsigned char> bytes(samples.size() * 4);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return makeAudioBuffer(makeLinearPCMDescription(rate, channels, 32, kAudioFormatFlagIsFloat),
                           static_cast<CMItemCount>(samples.size() / channels), {std::move(bytes)});
}

// A video buffer: a format without an audio stream description.
inline std::unique_ptr<OwnedBuffer> makeVideoBuffer() {
    auto owned = std::make_unique<OwnedBuffer>();
    owned->buffer.formatDescription = CMFormatDescription{CMMediaType::Video, std::nullopt};
    owned->buffer.numSamples = 1;
    owned->buffer.presentationTimeStamp = CMTimeMake(3600 * 600, 600);
    return owned;
}

}  // namespace testing_support
