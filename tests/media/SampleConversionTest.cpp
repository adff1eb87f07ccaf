// The sample conversion rules at their edges, and the fast converters held
// to the plain rules sample for sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/pcm/SampleCodecs.h"
#include "tests/support/SampleRules.h"

namespace {

using namespace pcm;
using namespace testing_support;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const SampleEncoding kFloat32{SampleKind::Float, 4, 32, false, false};
const SampleEncoding kFloat64{SampleKind::Float, 8, 64, false, false};

// Sample i of little-endian output at `bits` (8 bits is offset binary).
int32_t storedSample(const std::vector<uint8_t>& out, size_t i, unsigned bits) {
    const size_t width = bits / 8;
    uint32_t u = 0;
    for (size_t b = width; b-- > 0;) u = u << 8 | out[width * i + b];
    if (bits == 8) return static_cast<int32_t>(u) - 128;
    return static_cast<int32_t>(u << (32 - bits)) >> (32 - bits);
}

struct RealCase {
    double in;
    int32_t out;
    bool clipped;
};

TEST(RealToInteger, RoundsToEvenSaturatesAndCountsClipsAtEveryWidth) {
    const double lsb16 = 1.0 / 32768, lsb24 = 1.0 / 8388608, lsb32 = 1.0 / 2147483648.0;
    const std::vector<std::pair<unsigned, std::vector<RealCase>>> tables = {
        {8, {{0.0, 0, false}, {-1.0, -128, false}, {1.0, 127, true}, {kNaN, 0, false}, {0.5 / 128, 0, false},
             {1.5 / 128, 2, false}, {-kInf, -128, true}}},
        {16, {{0.0, 0, false}, {-1.0, -32768, false}, {1.0, 32767, true}, {1.0000001, 32767, true},
              {-1.0000001, -32768, false},  // rounds back to the bottom value
              {-1.0001, -32768, true}, {kInf, 32767, true}, {-kInf, -32768, true}, {kNaN, 0, false},
              {0.5 * lsb16, 0, false}, {1.5 * lsb16, 2, false}, {2.5 * lsb16, 2, false}, {-0.5 * lsb16, 0, false},
              {-1.5 * lsb16, -2, false}, {0.49 * lsb16, 0, false}, {0.51 * lsb16, 1, false},
              {32766.5 * lsb16, 32766, false}, {32767.5 * lsb16, 32767, true},  // rounds to 32768, saturates
              {1e300, 32767, true}, {-1e300, -32768, true}}},
        {24, {{-1.0, -8388608, false}, {1.0, 8388607, true}, {-lsb24, -1, false}, {0.5 * lsb24, 0, false},
              {kNaN, 0, false}, {kInf, 8388607, true}}},
        {32, {{-1.0, INT32_MIN, false}, {1.0, INT32_MAX, true}, {kNaN, 0, false}, {0.5 * lsb32, 0, false},
              {1.5 * lsb32, 2, false}, {1.7e-9, 4, false}, {-1.7e-9, -4, false}, {-kInf, INT32_MIN, true},
              {1.0 - lsb32, INT32_MAX, false}}},
    };
    for (const auto& [bits, table] : tables) {
        SCOPED_TRACE(testing::Message() << bits << " bits");
        std::vector<double> in;
        uint64_t expectedClips = 0;
        for (const auto& c : table) {
            in.push_back(c.in);
            expectedClips += c.clipped ? 1 : 0;
        }
        std::vector<uint8_t> out(in.size() * bits / 8);
        EXPECT_EQ(selectRealEncoder(bits)(in.data(), in.size(), out.data()), expectedClips);
        for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(storedSample(out, i, bits), table[i].out) << table[i].in;

        // The one-pass float64 converter stores the same bytes.
        std::vector<uint8_t> direct(out.size());
        selectDirectConverter(kFloat64, bits)(reinterpret_cast<const uint8_t*>(in.data()), in.size(), direct.data());
        EXPECT_EQ(direct, out);
    }
}

// Random values, full-scale edges, specials, exact half steps and values
// that keep a fraction after scaling at every width (small ones for 32 bits:
// 1.7e-9 * 2^31 is 3.65), as floats.
std::vector<float> trickyFloats(size_t count) {
    std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, std::nextafter(1.0f, 2.0f), std::nextafter(-1.0f, -2.0f),
                            std::nextafter(1.0f, 0.0f), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                            std::numeric_limits<float>::denorm_min(), 3e9f, -3e9f, 1.7e-9f, -1.7e-9f};
    for (int k = -40; k <= 40; ++k)
        for (double scale : {128.0, 32768.0, 8388608.0, 2147483648.0}) v.push_back(static_cast<float>((k + 0.5) / scale));
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> wide(-1.5f, 1.5f), small(-2e-6f, 2e-6f);
    while (v.size() < count) v.push_back(v.size() % 2 == 0 ? wide(rng) : small(rng));
    return v;
}

// Every one-pass float32 converter against the plain rule, at lengths around
// the vector widths and from unaligned addresses, writing nothing outside
// its output. The long run puts every tricky value inside the vector loop.
class FloatConverters : public testing::TestWithParam<unsigned> {};

TEST_P(FloatConverters, MatchThePlainRuleAtEveryLengthAndAlignment) {
    const unsigned bits = GetParam();
    const DirectConverter convert = selectDirectConverter(kFloat32, bits);
    ASSERT_NE(convert, nullptr);
    const std::vector<float> tricky = trickyFloats(5000);
    for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{15}, size_t{16}, size_t{17},
                         size_t{33}, size_t{47}, size_t{64}, tricky.size()}) {
        SCOPED_TRACE(testing::Message() << count << " samples");
        std::vector<uint8_t> raw(1 + 4 * count);  // one byte in: unaligned input and output
        std::memcpy(raw.data() + 1, tricky.data(), 4 * count);
        std::vector<uint8_t> out(count * bits / 8 + 2, 0xEE);
        const uint64_t clips = convert(raw.data() + 1, count, out.data() + 1);
        const std::vector<uint8_t> stored(out.begin() + 1, out.end() - 1);
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < count; ++i) {
            bool clipped = false;
            ASSERT_EQ(storedSample(stored, i, bits), quantiseRealReference(tricky[i], bits, clipped)) << tricky[i];
            expectedClips += clipped ? 1 : 0;
        }
        EXPECT_EQ(clips, expectedClips);
        EXPECT_EQ(out.front(), 0xEE) << "wrote before its output";
        EXPECT_EQ(out.back(), 0xEE) << "wrote past its output";
    }
}

INSTANTIATE_TEST_SUITE_P(ToEveryWidth, FloatConverters, testing::Values(8u, 16u, 24u, 32u));

// Also in place, as the host uses it.
TEST(ByteSwap, MatchesThePlainSwapAtEveryLengthAndInPlace) {
    std::vector<uint8_t> in(1 + 2 * 200);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
    for (size_t count : {size_t{0}, size_t{1}, size_t{15}, size_t{31}, size_t{32}, size_t{33}, size_t{64}, size_t{95},
                         size_t{200}}) {
        std::vector<uint8_t> out(2 * count + 2, 0xEE), expected(out);
        for (size_t i = 0; i < 2 * count; ++i) expected[1 + i] = in[1 + (i ^ 1)];
        swapInt16(in.data() + 1, count, out.data() + 1);
        EXPECT_EQ(out, expected) << count << " samples";
        std::copy(in.begin() + 1, in.begin() + 1 + 2 * static_cast<std::ptrdiff_t>(count), out.begin() + 1);
        swapInt16(out.data() + 1, count, out.data() + 1);
        EXPECT_EQ(out, expected) << count << " samples in place";
    }
}

TEST(IntegerToInteger, NarrowingRoundsHalfUpSaturatesAndMatchesThePlainRule) {
    const std::vector<int32_t> edges = {0x7FFF8000, 0x7FFF7FFF, 0x00008000, 0x00007FFF, -0x8000, -0x8001,
                                        INT32_MIN, INT32_MAX, 0x12345678};
    std::vector<uint8_t> narrowed(edges.size() * 2);
    EXPECT_EQ(selectIntEncoder(16)(edges.data(), edges.size(), narrowed.data()), 2u);  // 0x7FFF8000 and INT32_MAX
    const std::vector<int32_t> expected = {32767, 32767, 1, 0, 0, -1, -32768, 32767, 0x1234};
    for (size_t i = 0; i < edges.size(); ++i) EXPECT_EQ(storedSample(narrowed, i, 16), expected[i]) << i;

    std::mt19937 rng(99);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    std::vector<int32_t> in = {INT32_MIN, INT32_MAX, 0, -1, 1, 0x7FFFFF80, 0x7FFFFF7F, 0x7F800000, -0x800000};
    while (in.size() < 4000) in.push_back(any(rng));
    for (unsigned bits : {8u, 16u, 24u, 32u}) {
        std::vector<uint8_t> out(in.size() * bits / 8);
        const uint64_t clips = selectIntEncoder(bits)(in.data(), in.size(), out.data());
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            bool clipped = false;
            ASSERT_EQ(storedSample(out, i, bits), narrowIntegerReference(in[i], bits, clipped)) << bits << " " << in[i];
            expectedClips += clipped ? 1 : 0;
        }
        EXPECT_EQ(clips, expectedClips) << bits;
    }
}

TEST(Decoding, EveryContainerAndByteOrder) {
    struct Case {
        SampleEncoding encoding;
        std::vector<uint8_t> stored;  // two samples
        int32_t first, second;        // left-justified
    };
    const std::vector<Case> cases = {
        {{SampleKind::SignedInt, 1, 8, false, false}, {0x80, 0x7F}, INT32_MIN, 0x7F000000},
        {{SampleKind::UnsignedInt, 1, 8, false, false}, {0x00, 0x80}, INT32_MIN, 0},
        {{SampleKind::SignedInt, 2, 16, false, false}, {0x34, 0x12, 0xFF, 0xFF}, 0x12340000, -0x10000},
        {{SampleKind::SignedInt, 2, 16, true, false}, {0x12, 0x34, 0x80, 0x00}, 0x12340000, INT32_MIN},
        {{SampleKind::UnsignedInt, 2, 16, false, false}, {0x00, 0x80, 0xFF, 0xFF}, 0, 0x7FFF0000},
        {{SampleKind::SignedInt, 3, 24, false, false}, {0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}, 0x12345600, -0x100},
        {{SampleKind::SignedInt, 3, 24, true, false}, {0x12, 0x34, 0x56, 0x80, 0, 0}, 0x12345600, INT32_MIN},
        // 24 bits in 4 bytes, aligned low: the top byte is padding (sign extension or not).
        {{SampleKind::SignedInt, 4, 24, false, false}, {0x56, 0x34, 0x12, 0x00, 0xFF, 0xFF, 0xFF, 0x00}, 0x12345600, -0x100},
        // aligned high: the low byte is padding and is ignored.
        {{SampleKind::SignedInt, 4, 24, false, true}, {0xAB, 0x56, 0x34, 0x12, 0xCD, 0xFF, 0xFF, 0xFF}, 0x12345600, -0x100},
        {{SampleKind::SignedInt, 4, 24, true, true}, {0x12, 0x34, 0x56, 0xAB, 0x80, 0, 0, 0xCD}, 0x12345600, INT32_MIN},
        {{SampleKind::SignedInt, 4, 32, false, false}, {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF}, 0x12345678, -1},
        {{SampleKind::SignedInt, 4, 32, true, false}, {0x12, 0x34, 0x56, 0x78, 0x80, 0, 0, 0}, 0x12345678, INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.encoding.containerBytes} << " bytes, " << c.stored.size() << " stored");
        int32_t out[4] = {7, 7, 7, 7};
        selectIntDecoder(c.encoding)(c.stored.data(), 2, out, 2);  // strided: every other slot
        EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{c.first, 7, c.second, 7}));
        double reals[2];
        selectRealDecoder(c.encoding)(c.stored.data(), 2, reals, 1);
        EXPECT_EQ(reals[0], c.first / 2147483648.0);
        EXPECT_EQ(reals[1], c.second / 2147483648.0);
    }
    // Big-endian floats are swapped: 0.5 and -1 in float32, 0.25 in float64.
    const uint8_t f32be[] = {0x3F, 0x00, 0x00, 0x00, 0xBF, 0x80, 0x00, 0x00};
    const uint8_t f64be[] = {0x3F, 0xD0, 0, 0, 0, 0, 0, 0};
    double reals[3];
    selectRealDecoder({SampleKind::Float, 4, 32, true, false})(f32be, 2, reals, 1);
    selectRealDecoder({SampleKind::Float, 8, 64, true, false})(f64be, 1, reals + 2, 1);
    EXPECT_EQ(std::vector<double>(reals, reals + 3), (std::vector<double>{0.5, -1.0, 0.25}));
}

TEST(DirectConverters, ExistOnlyWhereOnePassIsExact) {
    EXPECT_NE(selectDirectConverter({SampleKind::SignedInt, 2, 16, false, false}, 16), nullptr);
    EXPECT_NE(selectDirectConverter({SampleKind::UnsignedInt, 1, 8, false, false}, 8), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 1, 8, false, false}, 8), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 2, 16, false, false}, 24), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 4, 24, false, true}, 24), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::Float, 4, 32, true, false}, 32), nullptr);

    const uint8_t be[] = {0x12, 0x34, 0x80, 0x01, 0xFF, 0xFE};
    std::vector<uint8_t> out(6);
    const auto convert = selectDirectConverter({SampleKind::SignedInt, 2, 16, true, false}, 16);
    ASSERT_NE(convert, nullptr);
    convert(be, 3, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0x34, 0x12, 0x01, 0x80, 0xFE, 0xFF}));
}

}  // namespace
