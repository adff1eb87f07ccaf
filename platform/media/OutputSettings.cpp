#include "OutputSettings.h"

#include <cstdint>

#include "../buffers/AudioStreamBasicDescription.h"
#include "AVAudioSettings.h"

namespace media {
namespace {

std::optional<WaveFormat> refuse(std::string& problem, std::string text) {
    problem = std::move(text);
    return std::nullopt;
}

bool flagSet(const NSDictionary& settings, std::string_view key) {
    const std::optional<NSNumber> value = settings.objectForKey(key);
    return value && value->boolValue();
}

}  // namespace

std::optional<WaveFormat> waveFormatFromSettings(const NSDictionary& settings, std::string& problem) {
    const std::optional<NSNumber> formatID = settings.objectForKey(AVFormatIDKey);
    const std::optional<NSNumber> rate = settings.objectForKey(AVSampleRateKey);
    const std::optional<NSNumber> depth = settings.objectForKey(AVLinearPCMBitDepthKey);
    const std::optional<NSNumber> channels = settings.objectForKey(AVNumberOfChannelsKey);

    if (!formatID || formatID->unsignedLongLongValue() != kAudioFormatLinearPCM)
        return refuse(problem, "The output format isn\u2019t linear PCM.");
    if (flagSet(settings, AVLinearPCMIsFloatKey))
        return refuse(problem, "WAVE files are written with integer samples, not floating point.");
    if (flagSet(settings, AVLinearPCMIsBigEndianKey))
        return refuse(problem, "WAVE files are written little-endian.");
    if (flagSet(settings, AVLinearPCMIsNonInterleaved))
        return refuse(problem, "WAVE files are written interleaved.");
    if (!rate || rate->unsignedLongLongValue() == 0 || rate->unsignedLongLongValue() > UINT32_MAX)
        return refuse(problem, "The output sample rate must be between 1 and 4294967295.");
    if (!depth || (depth->unsignedLongLongValue() != 8 && depth->unsignedLongLongValue() != 16 &&
                   depth->unsignedLongLongValue() != 24 && depth->unsignedLongLongValue() != 32))
        return refuse(problem, "The output bit depth must be 8, 16, 24 or 32.");
    if (!channels || channels->unsignedLongLongValue() == 0)
        return refuse(problem, "The output needs at least one channel.");

    const uint64_t frameBytes = channels->unsignedLongLongValue() * (depth->unsignedLongLongValue() / 8);
    if (channels->unsignedLongLongValue() > UINT16_MAX || frameBytes > UINT16_MAX)
        return refuse(problem, "An output frame would be wider than 65535 bytes.");
    if (frameBytes * rate->unsignedLongLongValue() > UINT32_MAX)
        return refuse(problem, "A second of output would be more bytes than a WAVE header can state.");

    WaveFormat format;
    format.sampleRate = static_cast<uint32_t>(rate->unsignedLongLongValue());
    format.channels = static_cast<uint16_t>(channels->unsignedLongLongValue());
    format.bitsPerSample = static_cast<uint16_t>(depth->unsignedLongLongValue());
    return format;
}

}  // namespace media
