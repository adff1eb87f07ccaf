// The PCM toolkit: which stream descriptions and buffers are refused before any byte is touched, and the encoders to
// WAVE data held to the plain rules sample for sample, on values at every rounding and saturation edge, through their
// vector loops and their tails. (Every stored layout is decoded by the writer's format-change tests and encoded by the
// host's buffer tests.)

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/pcm/SampleCodecs.h"
#include "platform/pcm/StreamLayout.h"
#include "tests/support/SampleRules.h"

namespace {

using namespace pcm;
using Bytes = std::vector<uint8_t>;

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
        const char* problem = nullptr;
        EXPECT_FALSE(layoutFromDescription(d, layout, &problem)) << &fault - faults;
        EXPECT_NE(problem, nullptr) << &fault - faults;
    }
}

// One buffer holding every channel, or one single-channel buffer per channel, each with data for all its frames.
TEST(StreamLayout, BuffersMustMatchInterleavingAndHoldTheirFrames) {
    std::vector<uint8_t> data(400);
    const AudioBuffer whole{2, 400, data.data()}, left{1, 200, data.data()}, shortRight{1, 198, data.data() + 200};
    const struct {
        bool interleaved;
        std::vector<AudioBuffer> buffers;
        int64_t frames;
        bool holds;
    } cases[] = {
        {true, {whole}, 100, true},         {true, {whole}, 101, false},       {true, {whole}, -1, false},
        {true, {whole, whole}, 10, false},  {true, {left}, 10, false},         {true, {{2, 400, nullptr}}, 10, false},
        {true, {{2, 0, nullptr}}, 0, true}, {false, {left, left}, 100, true},  {false, {left, shortRight}, 100, false},
        {false, {left}, 100, false},        {false, {whole, whole}, 10, false}};
    for (const auto& c : cases) {
        StreamLayout layout;
        ASSERT_TRUE(layoutFromDescription(
            describeLayout({SampleKind::SignedInt, 2, 16, false, false}, 48000, 2, c.interleaved), layout));
        EXPECT_EQ(buffersHoldFrames(layout, c.buffers, c.frames), c.holds) << &c - cases;
    }
}

// Sample i of little-endian WAVE output at `bits` (8 bits is offset binary).
int32_t storedSample(const Bytes& out, size_t i, unsigned bits) {
    const size_t width = bits / 8;
    uint32_t u = 0;
    for (size_t b = width; b-- > 0;) u = u << 8 | out[width * i + b];
    if (bits == 8) return static_cast<int32_t>(u) - 128;
    return static_cast<int32_t>(u << (32 - bits)) >> (32 - bits);
}

// Specials, half steps near zero and at both ends of every width, values that keep a fraction after scaling (1.7e-9 *
// 2^31 is 3.65), then a sweep of large and small values.
std::vector<double> trickyValues() {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    std::vector<double> v = {0.0,
                             -0.0,
                             kInf,
                             -kInf,
                             std::nan(""),
                             3e9,
                             -3e9,
                             1e300,
                             1.7e-9,
                             -1.7e-9,
                             std::nextafter(1.0f, 2.0f),
                             std::numeric_limits<float>::denorm_min()};
    for (double scale : {128.0, 32768.0, 8388608.0, 2147483648.0}) {
        for (int k = -40; k <= 40; ++k) v.push_back((k + 0.5) / scale);
        for (double top : {scale - 1.5, scale - 1, scale - 0.5, scale - 0.4, scale, -scale, -scale - 0.5, -scale - 0.6})
            v.push_back(top / scale);
    }
    for (int k = 0; v.size() < 5000; ++k) v.push_back(1.5 * std::sin(k * 0.77) * (k % 2 == 0 ? 1 : 1.3e-6));
    return v;
}

// Every encoder to every width: left-justified integers narrowed, doubles in memory (the pipeline's encoder), float32
// and float64 samples (the one-pass converters, from unaligned input), at lengths around the vector widths into
// unaligned output, writing nothing outside it, and the codec's count of the doubles it saturates. The longest run puts
// every value in the vector loop. The integers are the values at 32 bits.
enum Source { kInt32 = 0, kDouble = 1, kFloat32 = 4, kFloat64 = 8 };  // >1: bytes of a raw sample
class Encoders : public testing::TestWithParam<std::tuple<unsigned, Source>> {};

TEST_P(Encoders, MatchThePlainRulesAtEveryLengthAndAlignment) {
    const auto [bits, source] = GetParam();
    const std::vector<double> reals = trickyValues();
    std::vector<int32_t> ints;
    Bytes raw(1 + source * reals.size());
    for (size_t i = 0; i < reals.size(); ++i) {
        bool ignored = false;
        ints.push_back(testing_support::quantiseRealReference(reals[i], 32, ignored));
        const float f = static_cast<float>(reals[i]);
        if (source > kDouble)
            std::memcpy(&raw[1 + source * i], source == kFloat32 ? static_cast<const void*>(&f) : &reals[i], source);
    }
    const SampleCodec codec = codecFor({bits == 8 ? SampleKind::UnsignedInt : SampleKind::SignedInt,
                                        static_cast<uint8_t>(bits / 8), static_cast<uint8_t>(bits), false, false});
    const DirectConverter direct = selectDirectConverter(
        {SampleKind::Float, static_cast<uint8_t>(source), static_cast<uint8_t>(8 * source), false, false}, bits);
    ASSERT_TRUE(source <= kDouble || direct != nullptr);
    for (size_t count :
         {size_t{0}, size_t{1}, size_t{7}, size_t{15}, size_t{17}, size_t{33}, size_t{64}, reals.size()}) {
        Bytes out(count * bits / 8 + 2, 0xEE);
        if (source == kInt32)
            codec.encodeInt(ints.data(), count, &out[1]);
        else if (source == kDouble)
            codec.encodeReal(reals.data(), count, &out[1]);
        else
            direct(&raw[1], count, &out[1]);
        const Bytes stored(out.begin() + 1, out.end() - 1);
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < count; ++i) {
            bool clipped = false;
            const double x = source == kFloat32 ? static_cast<float>(reals[i]) : reals[i];
            ASSERT_EQ(storedSample(stored, i, bits),
                      source == kInt32 ? testing_support::narrowIntegerReference(ints[i], bits, clipped)
                                       : testing_support::quantiseRealReference(x, bits, clipped))
                << x << " at " << i << " of " << count;
            expectedClips += clipped ? 1 : 0;
        }
        if (source == kDouble) {
            EXPECT_EQ(codec.countSaturated(reals.data(), count), expectedClips) << count;
        }
        EXPECT_EQ(out.front(), 0xEE) << "wrote before its output";
        EXPECT_EQ(out.back(), 0xEE) << "wrote past its output";
    }
}

INSTANTIATE_TEST_SUITE_P(ToEveryWidth, Encoders,
                         testing::Combine(testing::Values(8u, 16u, 24u, 32u),
                                          testing::Values(kInt32, kDouble, kFloat32, kFloat64)));

}  // namespace
