// The PCM toolkit's encoders to WAVE data held to the plain rules sample for
// sample, on values at every rounding and saturation edge, through their
// vector loops and their tails. (Every stored layout is decoded by the
// writer's input-layout tests and encoded by the host's buffer tests.)

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/pcm/SampleCodecs.h"
#include "tests/support/SampleRules.h"

namespace {

using namespace pcm;
using Bytes = std::vector<uint8_t>;

SampleEncoding wave(unsigned bits) {
    return {bits == 8 ? SampleKind::UnsignedInt : SampleKind::SignedInt, static_cast<uint8_t>(bits / 8),
            static_cast<uint8_t>(bits), false, false};
}

// Sample i of little-endian WAVE output at `bits` (8 bits is offset binary).
int32_t storedSample(const Bytes& out, size_t i, unsigned bits) {
    const size_t width = bits / 8;
    uint32_t u = 0;
    for (size_t b = width; b-- > 0;) u = u << 8 | out[width * i + b];
    if (bits == 8) return static_cast<int32_t>(u) - 128;
    return static_cast<int32_t>(u << (32 - bits)) >> (32 - bits);
}

// Specials, half steps near zero and at both ends of every width, values that
// keep a fraction after scaling (1.7e-9 * 2^31 is 3.65), then random ones.
std::vector<double> trickyValues(size_t count) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    std::vector<double> v = {0.0, -0.0, kInf, -kInf, std::nan(""), 3e9, -3e9, 1e300, 1.7e-9, -1.7e-9,
                             std::nextafter(1.0f, 2.0f), std::numeric_limits<float>::denorm_min()};
    for (double scale : {128.0, 32768.0, 8388608.0, 2147483648.0}) {
        for (int k = -40; k <= 40; ++k) v.push_back((k + 0.5) / scale);
        for (double top : {scale - 1.5, scale - 1, scale - 0.5, scale - 0.4, scale, -scale, -scale - 0.5, -scale - 0.6})
            v.push_back(top / scale);
    }
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> wide(-1.5, 1.5), small(-2e-6, 2e-6);
    while (v.size() < count) v.push_back(v.size() % 2 == 0 ? wide(rng) : small(rng));
    return v;
}

// Doubles in memory (the pipeline's encoder) and float32 and float64 samples
// (the one-pass converters) to every width, against the plain rule, at
// lengths around the vector widths and from unaligned addresses, writing
// nothing outside the output. The long run puts every value in the vector loop.
class RealToInteger : public testing::TestWithParam<std::tuple<unsigned, unsigned>> {};

TEST_P(RealToInteger, MatchesThePlainRuleAtEveryLengthAndAlignment) {
    const auto [bits, inBytes] = GetParam();  // inBytes 0: the double encoder
    const std::vector<double> tricky = trickyValues(5000);
    const DirectConverter direct =
        selectDirectConverter({SampleKind::Float, static_cast<uint8_t>(inBytes), static_cast<uint8_t>(8 * inBytes),
                               false, false},
                              bits);
    const RealEncoder encode = codecFor(wave(bits)).encodeReal;
    ASSERT_TRUE(inBytes == 0 || direct != nullptr);
    for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{15}, size_t{17}, size_t{33}, size_t{64}, tricky.size()}) {
        Bytes out(count * bits / 8 + 2, 0xEE);  // one byte in: unaligned output (and input)
        uint64_t clips = 0;
        if (inBytes == 0) {
            clips = encode(tricky.data(), count, out.data() + 1);
        } else {
            Bytes raw(1 + inBytes * count);
            for (size_t i = 0; i < count; ++i) {
                const float f = static_cast<float>(tricky[i]);
                std::memcpy(raw.data() + 1 + inBytes * i, inBytes == 4 ? static_cast<const void*>(&f) : &tricky[i], inBytes);
            }
            clips = direct(raw.data() + 1, count, out.data() + 1);
        }
        const Bytes stored(out.begin() + 1, out.end() - 1);
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < count; ++i) {
            bool clipped = false;
            const double x = inBytes == 4 ? static_cast<float>(tricky[i]) : tricky[i];
            ASSERT_EQ(storedSample(stored, i, bits), testing_support::quantiseRealReference(x, bits, clipped))
                << x << " at " << i << " of " << count;
            expectedClips += clipped ? 1 : 0;
        }
        EXPECT_EQ(clips, expectedClips) << count;
        EXPECT_EQ(out.front(), 0xEE) << "wrote before its output";
        EXPECT_EQ(out.back(), 0xEE) << "wrote past its output";
    }
}

INSTANTIATE_TEST_SUITE_P(ToEveryWidth, RealToInteger,
                         testing::Combine(testing::Values(8u, 16u, 24u, 32u), testing::Values(0u, 4u, 8u)));

TEST(IntegerToInteger, NarrowingRoundsHalfUpSaturatesAndMatchesThePlainRule) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    std::vector<int32_t> in = {INT32_MIN, INT32_MAX, 0, -1, 0x7FFF8000, 0x7FFF7FFF, 0x8000, 0x7FFF, -0x8001,
                               0x7FFFFF80, 0x7FFFFF7F};
    while (in.size() < 4000) in.push_back(any(rng));
    for (unsigned bits : {8u, 16u, 24u, 32u}) {
        Bytes out(in.size() * bits / 8);
        const uint64_t clips = codecFor(wave(bits)).encodeInt(in.data(), in.size(), out.data());
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            bool clipped = false;
            ASSERT_EQ(storedSample(out, i, bits), testing_support::narrowIntegerReference(in[i], bits, clipped))
                << bits << " " << in[i];
            expectedClips += clipped ? 1 : 0;
        }
        EXPECT_EQ(clips, expectedClips) << bits;
    }
}

}  // namespace
