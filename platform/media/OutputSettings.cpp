#include "OutputSettings.h"

#include <cstdint>

#include "../buffers/AudioStreamBasicDescription.h"
#include "AVAudioSettings.h"

namespace media {
namespace {

bool flagSet(const NSDictionary& settings, std::string_view key) {
    const std::optional<NSNumber> value = settings.objectForKey(key);
    return value && value->boolValue();
}

}  // namespace

std::optional<WaveFormat> waveFormatFromSettings(const NSDictionary& settings) {
    const std::optional<NSNumber> formatID = settings.objectForKey(AVFormatIDKey);
    const std::optional<NSNumber> rate = settings.objectForKey(AVSampleRateKey);
    const std::optional<NSNumber> depth = settings.objectForKey(AVLinearPCMBitDepthKey);
    const std::optional<NSNumber> channels = settings.objectForKey(AVNumberOfChannelsKey);

    if (!formatID || formatID->unsignedLongLongValue() != kAudioFormatLinearPCM) return std::nullopt;
    if (flagSet(settings, AVLinearPCMIsFloatKey) || flagSet(settings, AVLinearPCMIsBigEndianKey) ||
        flagSet(settings, AVLinearPCMIsNonInterleaved))
        return std::nullopt;
    if (!rate || rate->unsignedLongLongValue() == 0 || rate->unsignedLongLongValue() > UINT32_MAX) return std::nullopt;
    if (!depth || (depth->unsignedLongLongValue() != 8 && depth->unsignedLongLongValue() != 16 &&
                   depth->unsignedLongLongValue() != 24 && depth->unsignedLongLongValue() != 32))
        return std::nullopt;
    if (!channels || channels->unsignedLongLongValue() == 0) return std::nullopt;

    const uint64_t frameBytes = channels->unsignedLongLongValue() * (depth->unsignedLongLongValue() / 8);
    if (channels->unsignedLongLongValue() > UINT16_MAX || frameBytes > UINT16_MAX) return std::nullopt;
    if (frameBytes * rate->unsignedLongLongValue() > UINT32_MAX) return std::nullopt;

    WaveFormat format;
    format.sampleRate = static_cast<uint32_t>(rate->unsignedLongLongValue());
    format.channels = static_cast<uint16_t>(channels->unsignedLongLongValue());
    format.bitsPerSample = static_cast<uint16_t>(depth->unsignedLongLongValue());
    return format;
}

}  // namespace media
