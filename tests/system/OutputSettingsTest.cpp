// The output settings built from a source's stream description.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/media/AVAudioSettings.h"
#include "recorder/OutputSettings.h"

namespace {

AudioStreamBasicDescription source(double rate, uint32_t channels, uint32_t bits, AudioFormatFlags flags) {
    return makeLinearPCMDescription(rate, channels, bits, flags);
}

TEST(OutputSettings, SevenEntriesInOrderWithTheirNumberTypes) {
    const NSDictionary s = outputSettingsForStreamDescription(source(48000, 2, 16, kAudioFormatFlagIsSignedInteger));
    using T = NSNumber::Type;
    const std::vector<NSDictionary::Entry> expected{
        {std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(0x6C70636D)},
        {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(48000)},
        {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(16)},
        {std::string(AVLinearPCMIsNonInterleaved), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsFloatKey), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsBigEndianKey), NSNumber::numberWithBool(false)},
        {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(2)},
    };
    EXPECT_EQ(s.entries(), expected);
    EXPECT_EQ(s.entries()[0].second.type(), T::UnsignedInt);
    EXPECT_EQ(s.entries()[1].second.type(), T::UnsignedLongLong);
    EXPECT_EQ(s.entries()[2].second.type(), T::UnsignedInt);
    EXPECT_EQ(s.entries()[3].second.type(), T::Bool);
    EXPECT_EQ(s.entries()[6].second.type(), T::UnsignedLongLong);
}

TEST(OutputSettings, RateIsTruncatedTowardZeroNotRounded) {
    EXPECT_EQ(truncatedSampleRate(44100.0), 44100u);
    EXPECT_EQ(truncatedSampleRate(22050.5), 22050u);
    EXPECT_EQ(truncatedSampleRate(22050.999), 22050u);
    EXPECT_EQ(truncatedSampleRate(1.0), 1u);
}

TEST(OutputSettings, RatesThatCannotBeTruncatedSafelyBecomeZero) {
    for (double rate : {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(), -44100.0, 0.0, 0.99, 1e19, 1e300})
        EXPECT_EQ(truncatedSampleRate(rate), 0u) << rate;
}

TEST(OutputSettings, FloatSourceGivesLittleEndianInterleavedIntegerOfTheSameDepth) {
    const NSDictionary s = outputSettingsForStreamDescription(
        source(44100, 2, 32, kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsNonInterleaved));
    EXPECT_EQ(s.objectForKey(AVLinearPCMBitDepthKey)->unsignedLongLongValue(), 32u);
    EXPECT_FALSE(s.objectForKey(AVLinearPCMIsFloatKey)->boolValue());
    EXPECT_FALSE(s.objectForKey(AVLinearPCMIsBigEndianKey)->boolValue());
    EXPECT_FALSE(s.objectForKey(AVLinearPCMIsNonInterleaved)->boolValue());
}

}  // namespace
