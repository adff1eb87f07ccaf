#pragma once
// Keys of the linear-PCM output settings an audio writer input is created with.

#include <string_view>

inline constexpr std::string_view AVFormatIDKey = "AVFormatIDKey";
inline constexpr std::string_view AVSampleRateKey = "AVSampleRateKey";
inline constexpr std::string_view AVLinearPCMBitDepthKey = "AVLinearPCMBitDepthKey";
inline constexpr std::string_view AVLinearPCMIsNonInterleaved = "AVLinearPCMIsNonInterleaved";
inline constexpr std::string_view AVLinearPCMIsFloatKey = "AVLinearPCMIsFloatKey";
inline constexpr std::string_view AVLinearPCMIsBigEndianKey = "AVLinearPCMIsBigEndianKey";
inline constexpr std::string_view AVNumberOfChannelsKey = "AVNumberOfChannelsKey";

using AVFileType = std::string_view;
inline constexpr AVFileType AVFileTypeWAVE = "com.microsoft.waveform-audio";

using AVMediaType = std::string_view;
inline constexpr AVMediaType AVMediaTypeAudio = "soun";
inline constexpr AVMediaType AVMediaTypeVideo = "vide";
