// The sample conversion rules at their edges, and the fast converters held
// to the plain rules sample for sample.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "platform/media/convert/SampleCodecs.h"
#include "platform/media/convert/SampleKernels.h"
#include "platform/media/convert/SampleRules.h"

namespace {

using namespace media::convert;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

int32_t storedSample(const std::vector<uint8_t>& out, size_t i, unsigned bits) {
    switch (bits) {
        case 8: return int32_t{out[i]} - 128;
        case 16: return static_cast<int16_t>(out[2 * i] | out[2 * i + 1] << 8);
        case 24: {
            const uint32_t u = uint32_t{out[3 * i]} | uint32_t{out[3 * i + 1]} << 8 | uint32_t{out[3 * i + 2]} << 16;
            return static_cast<int32_t>(u << 8) >> 8;
        }
        default: {
            int32_t v;
            std::memcpy(&v, out.data() + 4 * i, 4);
            return v;
        }
    }
}

struct RealCase {
    double in;
    int32_t out;
    bool clipped;
};

// Every width through the double encoder, and through the float32 and
// float64 one-pass converters when the input is exact in them.
void expectRealTable(unsigned bits, const std::vector<RealCase>& table) {
    std::vector<double> in;
    for (const auto& c : table) in.push_back(c.in);
    uint64_t expectedClips = 0;
    for (const auto& c : table) expectedClips += c.clipped ? 1 : 0;

    std::vector<uint8_t> out(in.size() * bits / 8);
    EXPECT_EQ(selectRealEncoder(bits)(in.data(), in.size(), out.data()), expectedClips) << bits << " bits";
    for (size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(storedSample(out, i, bits), table[i].out) << bits << " bits, input " << table[i].in;

    std::vector<uint8_t> fromDouble(in.size() * bits / 8);
    const SampleEncoding f64{SampleKind::Float, 8, 64, false, false};
    selectDirectConverter(f64, bits)(reinterpret_cast<const uint8_t*>(in.data()), in.size(), fromDouble.data());
    EXPECT_EQ(fromDouble, out) << bits << " bits from float64";
}

TEST(RealToInteger, SixteenBitTable) {
    const double lsb = 1.0 / 32768;
    expectRealTable(16, {{0.0, 0, false},
                         {-1.0, -32768, false},
                         {1.0, 32767, true},
                         {1.0000001, 32767, true},
                         {-1.0000001, -32768, false},  // rounds back to the bottom value
                         {-1.0001, -32768, true},
                         {kInf, 32767, true},
                         {-kInf, -32768, true},
                         {kNaN, 0, false},
                         {0.5 * lsb, 0, false},   // ties go to even
                         {1.5 * lsb, 2, false},
                         {2.5 * lsb, 2, false},
                         {-0.5 * lsb, 0, false},
                         {-1.5 * lsb, -2, false},
                         {0.49 * lsb, 0, false},
                         {0.51 * lsb, 1, false},
                         {32766.5 * lsb, 32766, false},
                         {32767.5 * lsb, 32767, true},  // rounds to 32768, saturates
                         {1e300, 32767, true},
                         {-1e300, -32768, true}});
}

TEST(RealToInteger, EightBitIsOffsetBinary) {
    expectRealTable(8, {{0.0, 0, false}, {-1.0, -128, false}, {1.0, 127, true}, {kNaN, 0, false},
                        {0.5 / 128, 0, false}, {1.5 / 128, 2, false}, {-kInf, -128, true}});
    std::vector<uint8_t> out(3);
    const double in[] = {0.0, -1.0, 1.0};
    selectRealEncoder(8)(in, 3, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{128, 0, 255}));
}

TEST(RealToInteger, TwentyFourBitPacksLowByteFirst) {
    expectRealTable(24, {{-1.0, -8388608, false}, {1.0, 8388607, true}, {-1.0 / 8388608, -1, false},
                         {0.5 / 8388608, 0, false}, {kNaN, 0, false}, {kInf, 8388607, true}});
    std::vector<uint8_t> out(6);
    const double in[] = {-1.0 / 8388608, -1.0};
    selectRealEncoder(24)(in, 2, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80}));
}

TEST(RealToInteger, ThirtyTwoBitTable) {
    expectRealTable(32, {{-1.0, INT32_MIN, false}, {1.0, INT32_MAX, true}, {kNaN, 0, false},
                         {0.5 / 2147483648.0, 0, false}, {1.5 / 2147483648.0, 2, false},
                         {-kInf, INT32_MIN, true}, {1.0 - 1.0 / 2147483648.0, INT32_MAX, false}});
}

// Random values, full-scale edges, specials and exact half steps, as floats.
std::vector<float> trickyFloats(size_t randomCount) {
    std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, std::nextafter(1.0f, 2.0f), std::nextafter(-1.0f, -2.0f),
                            std::nextafter(1.0f, 0.0f), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest(),
                            std::numeric_limits<float>::denorm_min(), 3e9f, -3e9f};
    for (int k = -40; k <= 40; ++k) {
        v.push_back(static_cast<float>((k + 0.5) / 32768.0));
        v.push_back(static_cast<float>((k + 0.5) / 128.0));
        v.push_back(static_cast<float>((k + 0.5) / 8388608.0));
    }
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> wide(-1.5f, 1.5f);
    while (v.size() < randomCount) v.push_back(wide(rng));
    return v;
}

TEST(RealToInteger, VectorisedKernelsMatchThePlainRule) {
    const std::vector<float> in = trickyFloats(5000);
    const auto* src = reinterpret_cast<const uint8_t*>(in.data());
    for (unsigned bits : {8u, 16u, 24u, 32u}) {
        std::vector<uint8_t> out(in.size() * bits / 8);
        const SampleEncoding f32{SampleKind::Float, 4, 32, false, false};
        uint64_t clips = bits == 32   ? floatToInt32(src, in.size(), out.data())
                         : bits == 16 ? floatToInt16(src, in.size(), out.data())
                                      : selectDirectConverter(f32, bits)(src, in.size(), out.data());
        uint64_t expectedClips = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            bool clipped = false;
            const int32_t expected = quantiseRealReference(in[i], bits, clipped);
            expectedClips += clipped ? 1 : 0;
            ASSERT_EQ(storedSample(out, i, bits), expected) << bits << " bits, input " << in[i];
        }
        EXPECT_EQ(clips, expectedClips) << bits << " bits";
    }
}

// Every kernel variant this machine runs (the portable one always, AVX2
// where the CPU has it), whatever the variant chosen at run time, at
// lengths around the vector widths and from unaligned addresses.
std::vector<std::pair<const char*, const SampleKernels*>> kernelVariants() {
    std::vector<std::pair<const char*, const SampleKernels*>> v = {{"portable", &portableKernels()}};
    if (avx2Kernels() != nullptr) v.emplace_back("avx2", avx2Kernels());
    return v;
}

TEST(KernelVariants, FloatKernelsMatchThePlainRuleAtEveryLengthAndAlignment) {
    const std::vector<float> tricky = trickyFloats(300);
    for (const auto& [name, kernels] : kernelVariants()) {
        for (size_t count : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{15}, size_t{16}, size_t{17},
                             size_t{33}, tricky.size()}) {
            // One byte in, so neither input nor output is aligned.
            std::vector<uint8_t> raw(1 + 4 * count);
            std::memcpy(raw.data() + 1, tricky.data(), 4 * count);
            for (unsigned bits : {16u, 32u}) {
                std::vector<uint8_t> out(1 + count * bits / 8 + 1, 0xEE);
                const auto kernel = bits == 32 ? kernels->floatToInt32 : kernels->floatToInt16;
                const uint64_t clips = kernel(raw.data() + 1, count, out.data() + 1);
                uint64_t expectedClips = 0;
                const std::vector<uint8_t> stored(out.begin() + 1, out.end() - 1);
                for (size_t i = 0; i < count; ++i) {
                    bool clipped = false;
                    const int32_t expected = quantiseRealReference(tricky[i], bits, clipped);
                    expectedClips += clipped ? 1 : 0;
                    ASSERT_EQ(storedSample(stored, i, bits), expected)
                        << name << ", " << bits << " bits, " << count << " samples, input " << tricky[i];
                }
                EXPECT_EQ(clips, expectedClips) << name << ", " << bits << " bits, " << count << " samples";
                EXPECT_EQ(out.front(), 0xEE) << name << " wrote before its output";
                EXPECT_EQ(out.back(), 0xEE) << name << " wrote past its output";
            }
        }
    }
}

TEST(KernelVariants, ByteSwapMatchesThePlainSwapAtEveryLength) {
    std::vector<uint8_t> in(1 + 2 * 200);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
    for (const auto& [name, kernels] : kernelVariants()) {
        for (size_t count : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{64}, size_t{200}}) {
            std::vector<uint8_t> out(2 * count + 2, 0xEE);
            kernels->swapInt16(in.data() + 1, count, out.data() + 1);
            for (size_t i = 0; i < count; ++i) {
                ASSERT_EQ(out[1 + 2 * i], in[1 + 2 * i + 1]) << name << ", " << count << " samples, at " << i;
                ASSERT_EQ(out[1 + 2 * i + 1], in[1 + 2 * i]) << name << ", " << count << " samples, at " << i;
            }
            EXPECT_EQ(out.front(), 0xEE) << name;
            EXPECT_EQ(out.back(), 0xEE) << name;
        }
    }
}

TEST(KernelVariants, TheChosenVariantIsTheFastestTheCpuRuns) {
    const SampleKernels* expected = avx2Kernels() != nullptr ? avx2Kernels() : &portableKernels();
    EXPECT_EQ(&activeKernels(), expected);
    EXPECT_EQ(selectDirectConverter({SampleKind::Float, 4, 32, false, false}, 32), expected->floatToInt32);
    EXPECT_EQ(selectDirectConverter({SampleKind::Float, 4, 32, false, false}, 16), expected->floatToInt16);
}

TEST(IntegerToInteger, NarrowingRoundsHalfUpAndSaturates) {
    const std::vector<int32_t> in = {0x7FFF8000, 0x7FFF7FFF, 0x00008000, 0x00007FFF, -0x8000, -0x8001,
                                     INT32_MIN, INT32_MAX, 0x12345678};
    std::vector<uint8_t> out(in.size() * 2);
    EXPECT_EQ(selectIntEncoder(16)(in.data(), in.size(), out.data()), 2u);  // 0x7FFF8000 and INT32_MAX
    const std::vector<int32_t> expected = {32767, 32767, 1, 0, 0, -1, -32768, 32767, 0x1234};
    for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(storedSample(out, i, 16), expected[i]) << i;
}

TEST(IntegerToInteger, EncodersMatchThePlainRule) {
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

struct DecodeCase {
    SampleEncoding encoding;
    std::vector<uint8_t> stored;  // two samples
    int32_t first, second;        // left-justified
};

TEST(IntegerDecoding, EveryContainerAndByteOrder) {
    const std::vector<DecodeCase> cases = {
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
        int32_t out[4] = {7, 7, 7, 7};
        selectIntDecoder(c.encoding)(c.stored.data(), 2, out, 2);  // strided: every other slot
        EXPECT_EQ(out[0], c.first) << int{c.encoding.containerBytes} << " bytes";
        EXPECT_EQ(out[2], c.second) << int{c.encoding.containerBytes} << " bytes";
        EXPECT_EQ(out[1], 7);
        double reals[2];
        selectRealDecoder(c.encoding)(c.stored.data(), 2, reals, 1);
        EXPECT_EQ(reals[0], c.first / 2147483648.0);
        EXPECT_EQ(reals[1], c.second / 2147483648.0);
    }
}

TEST(RealDecoding, BigEndianFloatsAreSwapped) {
    const uint8_t f32be[] = {0x3F, 0x00, 0x00, 0x00, 0xBF, 0x80, 0x00, 0x00};  // 0.5, -1
    double out[2];
    selectRealDecoder({SampleKind::Float, 4, 32, true, false})(f32be, 2, out, 1);
    EXPECT_EQ(out[0], 0.5);
    EXPECT_EQ(out[1], -1.0);
    const uint8_t f64be[] = {0x3F, 0xD0, 0, 0, 0, 0, 0, 0};  // 0.25
    selectRealDecoder({SampleKind::Float, 8, 64, true, false})(f64be, 1, out, 1);
    EXPECT_EQ(out[0], 0.25);
}

TEST(DirectConverters, ExistOnlyWhereOnePassIsExact) {
    EXPECT_NE(selectDirectConverter({SampleKind::SignedInt, 2, 16, true, false}, 16), nullptr);
    EXPECT_NE(selectDirectConverter({SampleKind::SignedInt, 2, 16, false, false}, 16), nullptr);
    EXPECT_NE(selectDirectConverter({SampleKind::UnsignedInt, 1, 8, false, false}, 8), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 1, 8, false, false}, 8), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 2, 16, false, false}, 24), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::SignedInt, 4, 24, false, true}, 24), nullptr);
    EXPECT_EQ(selectDirectConverter({SampleKind::Float, 4, 32, true, false}, 32), nullptr);

    const uint8_t be[] = {0x12, 0x34, 0x80, 0x01, 0xFF, 0xFE};
    std::vector<uint8_t> out(6);
    selectDirectConverter({SampleKind::SignedInt, 2, 16, true, false}, 16)(be, 3, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{0x34, 0x12, 0x01, 0x80, 0xFE, 0xFF}));
}

}  // namespace
