// Which stream descriptions and buffers are read, and which are refused
// before any byte is touched.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/pcm/StreamLayout.h"

namespace {

using namespace pcm;

bool accepted(const AudioStreamBasicDescription& d) {
    StreamLayout layout;
    std::string problem;
    const bool ok = layoutFromDescription(d, layout, problem);
    EXPECT_EQ(ok, problem.empty()) << problem;
    return ok;
}

AudioStreamBasicDescription pcm(uint32_t channels, uint32_t bits, AudioFormatFlags flags, double rate = 48000) {
    return makeLinearPCMDescription(rate, channels, bits, flags);
}

TEST(StreamLayout, ReadsEverySupportedLayout) {
    const AudioFormatFlags s = kAudioFormatFlagIsSignedInteger;
    EXPECT_TRUE(accepted(pcm(2, 8, 0)));
    EXPECT_TRUE(accepted(pcm(2, 8, s)));
    EXPECT_TRUE(accepted(pcm(2, 16, s)));
    EXPECT_TRUE(accepted(pcm(2, 16, s | kAudioFormatFlagIsBigEndian)));
    EXPECT_TRUE(accepted(pcm(2, 24, s)));
    EXPECT_TRUE(accepted(pcm(2, 32, s | kAudioFormatFlagIsNonInterleaved)));
    EXPECT_TRUE(accepted(pcm(6, 32, kAudioFormatFlagIsFloat)));
    EXPECT_TRUE(accepted(pcm(1, 64, kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian)));

    AudioStreamBasicDescription wide24 = pcm(2, 24, s | kAudioFormatFlagIsAlignedHigh);
    wide24.mBytesPerFrame = wide24.mBytesPerPacket = 8;
    StreamLayout layout;
    std::string problem;
    ASSERT_TRUE(layoutFromDescription(wide24, layout, problem)) << problem;
    EXPECT_EQ(layout.sample.containerBytes, 4);
    EXPECT_TRUE(layout.sample.alignedHigh);
}

TEST(StreamLayout, RefusesInconsistentOrUnreadableDescriptions) {
    const AudioFormatFlags s = kAudioFormatFlagIsSignedInteger;
    auto with = [](AudioStreamBasicDescription d, auto change) {
        change(d);
        return d;
    };
    const AudioStreamBasicDescription base = pcm(2, 16, s);
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mFormatID = 0x61616320; })));  // 'aac '
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mChannelsPerFrame = 0; })));
    for (double rate : {0.0, -48000.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(accepted(with(base, [rate](auto& d) { d.mSampleRate = rate; }))) << rate;
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mBytesPerFrame = 3; d.mBytesPerPacket = 3; })));
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mBytesPerPacket = 8; })));
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mFramesPerPacket = 0; })));
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mBitsPerChannel = 12; })));
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mBitsPerChannel = 8; })));  // 8 bits in 2 bytes
    EXPECT_FALSE(accepted(pcm(2, 16, kAudioFormatFlagIsFloat)));
    // Channel counts that would overflow a 32-bit product.
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mChannelsPerFrame = 0xFFFFFFFFu; })));
    EXPECT_FALSE(accepted(with(base, [](auto& d) { d.mChannelsPerFrame = 0x80000000u; })));
}

TEST(StreamLayout, BuffersMustMatchInterleavingAndHoldTheirFrames) {
    StreamLayout stereo;
    std::string problem;
    ASSERT_TRUE(layoutFromDescription(pcm(2, 16, kAudioFormatFlagIsSignedInteger), stereo, problem));
    std::vector<uint8_t> data(400);
    const AudioBuffer whole{2, 400, data.data()};

    const std::vector<AudioBuffer> one = {whole};
    EXPECT_TRUE(buffersHoldFrames(stereo, one, 100, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, one, 101, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, one, -1, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, one, int64_t{1} << 62, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, one, INT64_MAX, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, std::vector<AudioBuffer>{whole, whole}, 10, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, std::vector<AudioBuffer>{}, 10, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, std::vector<AudioBuffer>{{1, 400, data.data()}}, 10, problem));
    EXPECT_FALSE(buffersHoldFrames(stereo, std::vector<AudioBuffer>{{2, 400, nullptr}}, 10, problem));
    EXPECT_TRUE(buffersHoldFrames(stereo, std::vector<AudioBuffer>{{2, 0, nullptr}}, 0, problem));

    StreamLayout planar;
    ASSERT_TRUE(layoutFromDescription(
        pcm(2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved), planar, problem));
    const AudioBuffer left{1, 200, data.data()};
    const AudioBuffer shortRight{1, 198, data.data() + 200};
    EXPECT_TRUE(buffersHoldFrames(planar, std::vector<AudioBuffer>{left, left}, 100, problem));
    EXPECT_FALSE(buffersHoldFrames(planar, std::vector<AudioBuffer>{left, shortRight}, 100, problem));
    EXPECT_FALSE(buffersHoldFrames(planar, std::vector<AudioBuffer>{left}, 100, problem));
}

}  // namespace
