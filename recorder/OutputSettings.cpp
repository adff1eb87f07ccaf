#include "OutputSettings.h"

#include <cmath>

#include "platform/media/AVAudioSettings.h"

uint64_t truncatedSampleRate(double sampleRate) {
    // Converting a value outside int64's range (or NaN) is undefined, so only
    // rates in [1, 2^63) are truncated.
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(sampleRate) || sampleRate < 1.0 || sampleRate >= kLimit) return 0;
    return static_cast<uint64_t>(static_cast<int64_t>(sampleRate));
}

NSDictionary outputSettingsForStreamDescription(const AudioStreamBasicDescription& description) {
    NSDictionary settings;
    settings.setObject(NSNumber::numberWithUnsignedInt(kAudioFormatLinearPCM), AVFormatIDKey);
    settings.setObject(NSNumber::numberWithUnsignedLongLong(truncatedSampleRate(description.mSampleRate)),
                       AVSampleRateKey);
    settings.setObject(NSNumber::numberWithUnsignedInt(description.mBitsPerChannel), AVLinearPCMBitDepthKey);
    settings.setObject(NSNumber::numberWithBool(false), AVLinearPCMIsNonInterleaved);
    settings.setObject(NSNumber::numberWithBool(false), AVLinearPCMIsFloatKey);
    settings.setObject(NSNumber::numberWithBool(false), AVLinearPCMIsBigEndianKey);
    settings.setObject(NSNumber::numberWithUnsignedLongLong(description.mChannelsPerFrame), AVNumberOfChannelsKey);
    return settings;
}
