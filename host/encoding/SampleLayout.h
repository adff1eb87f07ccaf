#pragma once
// How the host lays out one audio sample in a buffer it delivers: signed
// integer of 8/16/24/32 bits or float of 32/64 bits, in either byte order,
// and the per-stream encoding built on it (rate, channels, buffer size,
// interleaving).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/buffers/AudioStreamBasicDescription.h"

namespace host {

enum class SampleKind { SignedInteger, Float };

struct SampleLayout {
    SampleKind kind = SampleKind::SignedInteger;
    uint32_t bits = 16;
    bool bigEndian = false;

    uint32_t bytesPerSample() const { return bits / 8; }
    // The name parseSampleLayout accepts for this layout, e.g. "s16be".
    std::string name() const;
    friend bool operator==(const SampleLayout&, const SampleLayout&) = default;
};

// Parses "s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be", "f32le",
// "f32be", "f64le", "f64be" (case-insensitive). Throws std::invalid_argument
// naming the accepted names for anything else, including encodings that are
// not linear PCM.
SampleLayout parseSampleLayout(std::string_view text);

// Limits the host accepts for a delivered audio stream.
inline constexpr uint32_t kMaxSampleRate = 768000;
inline constexpr uint32_t kMaxChannels = 32;
inline constexpr uint32_t kMaxFramesPerBuffer = 1u << 20;

struct AudioEncoding {
    SampleLayout layout;
    double sampleRate = 44100;  // frames a second, possibly fractional
    uint32_t channels = 2;
    uint32_t framesPerBuffer = 22050;
    bool nonInterleaved = false;

    // Bytes of one buffer of `frames` frames, all channels together.
    size_t bytesFor(size_t frames) const { return frames * channels * layout.bytesPerSample(); }
    std::string describe() const;  // e.g. "s16be 44100 Hz 2 ch, 22050 frames"
};

// The audio stream description of buffers in `encoding`.
AudioStreamBasicDescription describeEncoding(const AudioEncoding& encoding);

// What the real host delivers by default.
AudioEncoding defaultAppEncoding();
AudioEncoding defaultMicEncoding();

}  // namespace host
