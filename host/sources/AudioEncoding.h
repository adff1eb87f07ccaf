#pragma once
// How the host delivers one audio stream: the sample format by its name on
// the command line ("s16be": signed integers of 8 to 32 bits or floats of
// 32 or 64 bits, in either byte order), the rate, the channels, the buffer
// size and the interleaving.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/buffers/AudioStreamBasicDescription.h"
#include "platform/pcm/StreamLayout.h"

namespace host {

// Parses "s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be", "f32le",
// "f32be", "f64le", "f64be" (case-insensitive). Throws std::invalid_argument
// naming the accepted names for anything else, including encodings that are
// not linear PCM.
pcm::SampleEncoding parseSampleLayout(std::string_view text);
// The name parseSampleLayout accepts for `layout`, e.g. "s16be".
std::string sampleLayoutName(const pcm::SampleEncoding& layout);

// Limits the host accepts for a delivered audio stream.
inline constexpr uint32_t kMaxSampleRate = 768000;
inline constexpr uint32_t kMaxChannels = 32;
inline constexpr uint32_t kMaxFramesPerBuffer = 1u << 20;

struct AudioEncoding {
    pcm::SampleEncoding layout{pcm::SampleKind::SignedInt, 2, 16, false, false};
    double sampleRate = 44100;  // frames a second, possibly fractional
    uint32_t channels = 2;
    uint32_t framesPerBuffer = 22050;
    bool nonInterleaved = false;

    // Bytes of one buffer of `frames` frames, all channels together.
    size_t bytesFor(size_t frames) const { return frames * channels * layout.containerBytes; }
    std::string describe() const;  // e.g. "s16be 44100 Hz 2 ch, 22050 frames"
};

// The audio stream description of buffers in `encoding`.
AudioStreamBasicDescription describeEncoding(const AudioEncoding& encoding);

// What the real host delivers by default.
AudioEncoding defaultAppEncoding();
AudioEncoding defaultMicEncoding();

}  // namespace host
