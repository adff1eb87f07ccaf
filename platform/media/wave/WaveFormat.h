#pragma once
// The sample layout of a WAVE file's data: little-endian interleaved integer
// PCM (8-bit unsigned, 16/24/32-bit signed) at one rate and channel count.

#include <cstdint>

namespace media {

struct WaveFormat {
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;

    uint32_t bytesPerSample() const { return bitsPerSample / 8u; }
    // Bytes of one frame (one sample of every channel); at most 65535.
    uint32_t blockAlign() const { return bytesPerSample() * channels; }
    uint64_t bytesPerSecond() const { return uint64_t{blockAlign()} * sampleRate; }

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

}  // namespace media
