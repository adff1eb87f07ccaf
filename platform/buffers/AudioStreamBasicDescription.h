#pragma once
// The audio stream description carried by an audio sample buffer's format.

#include <cstdint>

using AudioFormatID = uint32_t;
using AudioFormatFlags = uint32_t;

inline constexpr AudioFormatID kAudioFormatLinearPCM = 0x6C70636D;  // 'lpcm'

inline constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 1u << 1;
inline constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 1u << 2;
inline constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr AudioFormatFlags kAudioFormatFlagIsAlignedHigh = 1u << 4;
inline constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 1u << 5;

struct AudioStreamBasicDescription {
    double mSampleRate = 0;  // frames per second
    AudioFormatID mFormatID = 0;
    AudioFormatFlags mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;  // per channel buffer when non-interleaved
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;
};

// A packed linear-PCM description: `bits` valid bits in the smallest whole
// number of bytes, with the given flags (float/signed/big-endian/non-interleaved).
AudioStreamBasicDescription makeLinearPCMDescription(double sampleRate, uint32_t channels, uint32_t bitsPerChannel,
                                                     AudioFormatFlags flags);
