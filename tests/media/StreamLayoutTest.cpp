// Which stream descriptions and buffers are refused before any byte is
// touched. (Every layout the writer reads is read by its input-layout tests,
// every layout the host delivers is described and read back by its buffer tests.)

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/pcm/StreamLayout.h"

namespace {

using namespace pcm;

TEST(StreamLayout, RefusesInconsistentOrUnreadableDescriptions) {
    using Fault = void (*)(AudioStreamBasicDescription&);
    const Fault faults[] = {
        [](auto& d) { d.mFormatID = 0x61616320; },  // 'aac '
        [](auto& d) { d.mChannelsPerFrame = 0; },
        [](auto& d) { d.mSampleRate = std::nan(""); },
        [](auto& d) { d.mSampleRate = -INFINITY; },
        [](auto& d) { d.mBytesPerFrame = d.mBytesPerPacket = 3; },
        [](auto& d) { d.mBytesPerPacket = 8; },
        [](auto& d) { d.mFramesPerPacket = 0; },
        [](auto& d) { d.mBitsPerChannel = 12; },
        [](auto& d) { d.mBitsPerChannel = 8; },  // 8 bits in 2 bytes
        [](auto& d) { d.mFormatFlags = kAudioFormatFlagIsFloat; },
        [](auto& d) { d.mChannelsPerFrame = 0x80000000u; },  // would overflow a 32-bit product
    };
    for (const Fault fault : faults) {
        AudioStreamBasicDescription d = makeLinearPCMDescription(48000, 2, 16, kAudioFormatFlagIsSignedInteger);
        fault(d);
        StreamLayout layout;
        std::string problem;
        EXPECT_FALSE(layoutFromDescription(d, layout, problem)) << &fault - faults;
        EXPECT_FALSE(problem.empty()) << &fault - faults;
    }
}

// One buffer holding every channel, or one single-channel buffer per
// channel, each with data for all its frames.
TEST(StreamLayout, BuffersMustMatchInterleavingAndHoldTheirFrames) {
    std::vector<uint8_t> data(400);
    const AudioBuffer whole{2, 400, data.data()}, left{1, 200, data.data()}, shortRight{1, 198, data.data() + 200};
    const struct {
        bool interleaved;
        std::vector<AudioBuffer> buffers;
        int64_t frames;
        bool holds;
    } cases[] = {{true, {whole}, 100, true},         {true, {whole}, 101, false},        {true, {whole}, -1, false},
                 {true, {whole, whole}, 10, false},  {true, {left}, 10, false},          {true, {{2, 400, nullptr}}, 10, false},
                 {true, {{2, 0, nullptr}}, 0, true}, {false, {left, left}, 100, true},   {false, {left, shortRight}, 100, false},
                 {false, {left}, 100, false},        {false, {whole, whole}, 10, false}};
    for (const auto& c : cases) {
        StreamLayout layout;
        std::string problem;
        ASSERT_TRUE(layoutFromDescription(
            describeLayout({SampleKind::SignedInt, 2, 16, false, false}, 48000, 2, c.interleaved), layout, problem));
        EXPECT_EQ(buffersHoldFrames(layout, c.buffers, c.frames, problem), c.holds) << &c - cases;
    }
}

}  // namespace
