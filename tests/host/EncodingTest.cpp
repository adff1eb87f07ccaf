// Sample layouts and the encoder that lays samples into delivered buffers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "host/encoding/SampleCodec.h"
#include "host/encoding/SampleLayout.h"

namespace host {
namespace {

std::vector<uint8_t> encode(const std::vector<double>& values, const char* layout, uint32_t channels = 1,
                            bool nonInterleaved = false, uint64_t* clipped = nullptr) {
    const SampleLayout parsed = parseSampleLayout(layout);
    std::vector<std::byte> out(values.size() * parsed.bytesPerSample());
    const uint64_t count = encodeSamples(values, channels, parsed, nonInterleaved, out);
    if (clipped != nullptr) *clipped = count;
    std::vector<uint8_t> bytes;
    for (std::byte b : out) bytes.push_back(std::to_integer<uint8_t>(b));
    return bytes;
}

using Bytes = std::vector<uint8_t>;

TEST(SampleLayout, ParsesEveryLinearPcmNameAndRoundTripsIt) {
    for (const char* name : {"s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be", "f32le", "f32be", "f64le",
                             "f64be"})
        EXPECT_EQ(parseSampleLayout(name).name(), name);
    EXPECT_EQ(parseSampleLayout("S16BE"), (SampleLayout{SampleKind::SignedInteger, 16, true}));
    EXPECT_EQ(parseSampleLayout("f64le"), (SampleLayout{SampleKind::Float, 64, false}));
}

TEST(SampleLayout, RejectsWhatIsNotLinearPcmOrHasNoByteOrder) {
    for (const char* name : {"aac", "alac", "u8", "s16", "f16le", "s12le", ""}) {
        try {
            parseSampleLayout(name);
            ADD_FAILURE() << name << " was accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find("linear PCM"), std::string::npos);
        }
    }
}

TEST(SampleLayout, DescriptionCarriesFlagsAndSizes) {
    AudioEncoding encoding{parseSampleLayout("s24be"), 48000, 2, 512, true};
    AudioStreamBasicDescription d = describeEncoding(encoding);
    EXPECT_EQ(d.mFormatID, kAudioFormatLinearPCM);
    EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsSignedInteger);
    EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsBigEndian);
    EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsNonInterleaved);
    EXPECT_FALSE(d.mFormatFlags & kAudioFormatFlagIsFloat);
    EXPECT_EQ(d.mBytesPerFrame, 3u);  // one channel's plane
    EXPECT_EQ(d.mBitsPerChannel, 24u);
    EXPECT_EQ(d.mSampleRate, 48000);

    encoding = {parseSampleLayout("f32le"), 44100, 2, 512, false};
    d = describeEncoding(encoding);
    EXPECT_TRUE(d.mFormatFlags & kAudioFormatFlagIsFloat);
    EXPECT_FALSE(d.mFormatFlags & kAudioFormatFlagIsBigEndian);
    EXPECT_EQ(d.mBytesPerFrame, 8u);
}

TEST(SampleEncoder, IntegerLayoutsInBothByteOrders) {
    EXPECT_EQ(encode({0.5, -0.5}, "s16be"), (Bytes{0x40, 0x00, 0xC0, 0x00}));
    EXPECT_EQ(encode({0.5, -0.5}, "s16le"), (Bytes{0x00, 0x40, 0x00, 0xC0}));
    EXPECT_EQ(encode({-0.5}, "s24be"), (Bytes{0xC0, 0x00, 0x00}));
    EXPECT_EQ(encode({0.25}, "s24le"), (Bytes{0x00, 0x00, 0x20}));
    EXPECT_EQ(encode({-1.0, 0.5}, "s8"), (Bytes{0x80, 0x40}));
    EXPECT_EQ(encode({-0.5}, "s32be"), (Bytes{0xC0, 0x00, 0x00, 0x00}));
    EXPECT_EQ(encode({-0.5}, "s32le"), (Bytes{0x00, 0x00, 0x00, 0xC0}));
}

TEST(SampleEncoder, FloatLayoutsKeepTheValue) {
    EXPECT_EQ(encode({0.5}, "f32be"), (Bytes{0x3F, 0x00, 0x00, 0x00}));
    EXPECT_EQ(encode({0.5}, "f32le"), (Bytes{0x00, 0x00, 0x00, 0x3F}));
    EXPECT_EQ(encode({-2.0}, "f64be"), (Bytes{0xC0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode({0.5}, "f64le"), (Bytes{0, 0, 0, 0, 0, 0, 0xE0, 0x3F}));
    // Float layouts are not saturated: the value beyond full scale travels as it is.
    uint64_t clipped = 0;
    EXPECT_EQ(encode({1.5}, "f32be", 1, false, &clipped), (Bytes{0x3F, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(clipped, 0u);
}

TEST(SampleEncoder, RoundsToNearestWithTiesToEven) {
    const double lsb = 1.0 / 32768;
    bool clipped = false;
    EXPECT_EQ(quantizeSample(0.6 * lsb, 16, clipped), 1);
    EXPECT_EQ(quantizeSample(-0.6 * lsb, 16, clipped), -1);
    EXPECT_EQ(quantizeSample(0.4 * lsb, 16, clipped), 0);
    EXPECT_EQ(quantizeSample(1.5 * lsb, 16, clipped), 2);
    EXPECT_EQ(quantizeSample(2.5 * lsb, 16, clipped), 2);
    EXPECT_FALSE(clipped);
}

TEST(SampleEncoder, SaturatesAndCountsClippedSamples) {
    uint64_t clipped = 0;
    EXPECT_EQ(encode({1.0, -1.0, 1.5, -1.5, std::nan("")}, "s16be", 1, false, &clipped),
              (Bytes{0x7F, 0xFF, 0x80, 0x00, 0x7F, 0xFF, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(clipped, 3u);  // +1.0 needs code 32768; -1.0 fits exactly
    EXPECT_EQ(encode({1.0}, "s32le", 1, false, &clipped), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_EQ(clipped, 1u);
    EXPECT_EQ(encode({-1e9}, "s24le", 1, false, &clipped), (Bytes{0x00, 0x00, 0x80}));
    bool one = false;
    EXPECT_EQ(quantizeSample(std::numeric_limits<double>::infinity(), 8, one), 127);
    EXPECT_TRUE(one);
}

TEST(SampleEncoder, NonInterleavedWritesOnePlanePerChannel) {
    // Frames (L, R): (0.5, -0.5), (0.25, -0.25), (0, 0.125)
    const std::vector<double> frames{0.5, -0.5, 0.25, -0.25, 0.0, 0.125};
    EXPECT_EQ(encode(frames, "s8", 2, true), (Bytes{0x40, 0x20, 0x00, 0xC0, 0xE0, 0x10}));
    EXPECT_EQ(encode(frames, "s8", 2, false), (Bytes{0x40, 0xC0, 0x20, 0xE0, 0x00, 0x10}));
}

TEST(SampleEncoder, DecodeInvertsEncodeForEveryLayout) {
    const std::vector<double> values{0.0, 0.5, -0.5, -1.0, 0.123456789, -0.987654321, 0.999};
    for (const char* name : {"s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be", "f32le", "f32be", "f64le",
                             "f64be"}) {
        const SampleLayout layout = parseSampleLayout(name);
        std::vector<std::byte> bytes(values.size() * layout.bytesPerSample());
        encodeSamples(values, 1, layout, false, bytes);
        std::vector<double> back(values.size());
        decodeSamples(bytes, layout, back);
        for (size_t i = 0; i < values.size(); ++i) {
            double expected = values[i];
            if (layout.kind == SampleKind::SignedInteger) {
                bool clipped = false;
                expected = std::ldexp(static_cast<double>(quantizeSample(values[i], layout.bits, clipped)),
                                      1 - static_cast<int>(layout.bits));
            } else if (layout.bits == 32) {
                expected = static_cast<float>(values[i]);
            }
            EXPECT_EQ(back[i], expected) << name << " value " << values[i];
        }
    }
}

// Values that sit on every rounding and saturation edge of every width.
std::vector<double> edgeValues() {
    std::vector<double> values{0.0, -0.0, 1.0, -1.0, 1.5, -1.5, 1e300, -1e300, std::nan(""),
                               std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (int bits : {8, 16, 24, 32}) {
        const double lsb = std::ldexp(1.0, 1 - bits);
        for (double codes : {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 0.4999999, -0.5000001})
            values.push_back(codes * lsb);
        const double top = std::ldexp(1.0, bits - 1);
        for (double code : {top - 1.5, top - 1, top - 0.5, top - 0.4999, top, -top - 0.5, -top - 0.5001, -top - 1})
            values.push_back(code * lsb);
    }
    return values;
}

TEST(SampleEncoder, ManyValuesAtOnceMatchOneAtATime) {
    // Long runs go through the vector loop, single values through the plain one.
    std::vector<double> values = edgeValues();
    std::mt19937 random(9);
    std::uniform_real_distribution<double> uniform(-1.2, 1.2);
    for (int i = 0; i < 999; ++i) values.push_back(uniform(random));
    for (const char* name : {"s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be"}) {
        const SampleLayout layout = parseSampleLayout(name);
        std::vector<std::byte> all(values.size() * layout.bytesPerSample());
        const uint64_t clipped = encodeSamples(values, 1, layout, false, all);
        uint64_t expectedClipped = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            bool one = false;
            const int64_t code = quantizeSample(values[i], layout.bits, one);
            expectedClipped += one ? 1 : 0;
            std::vector<std::byte> single(layout.bytesPerSample());
            encodeSamples(std::span<const double>(&values[i], 1), 1, layout, false, single);
            ASSERT_TRUE(std::equal(single.begin(), single.end(), all.begin() + static_cast<std::ptrdiff_t>(i * single.size())))
                << name << " value " << values[i] << " code " << code;
        }
        EXPECT_EQ(clipped, expectedClipped) << name;
    }
}

TEST(SampleEncoder, SaturationEdgesFollowRoundingToEven) {
    bool clipped = false;
    EXPECT_EQ(quantizeSample(32766.5 / 32768, 16, clipped), 32766);  // tie to even, inside
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantizeSample(32767.5 / 32768, 16, clipped), 32767);  // tie to 32768: saturated
    EXPECT_TRUE(clipped);
    EXPECT_EQ(quantizeSample(-32768.5 / 32768, 16, clipped), -32768);  // tie to even, inside
    EXPECT_FALSE(clipped);
    EXPECT_EQ(quantizeSample(-32768.6 / 32768, 16, clipped), -32768);
    EXPECT_TRUE(clipped);
    EXPECT_EQ(quantizeSample(std::nan(""), 24, clipped), 0);
    EXPECT_FALSE(clipped);
}

TEST(SampleEncoder, ABufferFilledInPiecesEqualsOneFilledAtOnce) {
    std::mt19937 random(4);
    std::uniform_real_distribution<double> uniform(-1.1, 1.1);
    const uint32_t channels = 3;
    const size_t frames = 1001;
    std::vector<double> values(frames * channels);
    for (double& v : values) v = uniform(random);
    for (const char* name : {"s8", "s16be", "s24le", "s32be", "f32le", "f64be"}) {
        for (bool planar : {false, true}) {
            const SampleLayout layout = parseSampleLayout(name);
            std::vector<std::byte> whole(values.size() * layout.bytesPerSample());
            std::vector<std::byte> pieces(whole.size());
            const uint64_t wholeClipped = encodeSamples(values, channels, layout, planar, whole);
            uint64_t piecesClipped = 0;
            for (size_t first = 0, size = 1; first < frames; first += size, size = size * 2 + 1) {
                const size_t count = std::min(size, frames - first);
                piecesClipped += encodeSamplesAt(std::span<const double>(values).subspan(first * channels, count * channels),
                                                 channels, layout, planar, pieces, first);
            }
            EXPECT_EQ(pieces, whole) << name << (planar ? " planar" : "");
            EXPECT_EQ(piecesClipped, wholeClipped);
        }
    }
}

TEST(SampleEncoder, SixteenBitCodesAreStoredAsTheyAre) {
    const std::vector<int16_t> codes{0x1234, -2, 0x7FFF, -0x8000};  // two stereo frames
    std::vector<std::byte> out(8);
    const auto bytes = [&out] {
        Bytes result;
        for (std::byte b : out) result.push_back(std::to_integer<uint8_t>(b));
        return result;
    };
    storeCodes16At(codes, 2, true, false, out, 0);
    EXPECT_EQ(bytes(), (Bytes{0x12, 0x34, 0xFF, 0xFE, 0x7F, 0xFF, 0x80, 0x00}));
    storeCodes16At(codes, 2, false, true, out, 0);
    EXPECT_EQ(bytes(), (Bytes{0x34, 0x12, 0xFF, 0x7F, 0xFE, 0xFF, 0x00, 0x80}));
    // The second frame alone, into a buffer of two frames.
    std::fill(out.begin(), out.end(), std::byte{0});
    storeCodes16At(std::span(codes).subspan(2), 2, true, true, out, 1);
    EXPECT_EQ(bytes(), (Bytes{0, 0, 0x7F, 0xFF, 0, 0, 0x80, 0x00}));
}

TEST(SampleEncoder, RefusesSamplesThatDoNotFitTheBuffer) {
    const SampleLayout s16 = parseSampleLayout("s16le");
    std::vector<double> values(4, 0.25);
    std::vector<std::byte> out(8);
    EXPECT_THROW(encodeSamplesAt(values, 2, s16, false, out, 1), std::invalid_argument);  // past the end
    EXPECT_THROW(encodeSamplesAt(values, 3, s16, false, out, 0), std::invalid_argument);  // not whole frames
    EXPECT_THROW(encodeSamples(values, 2, s16, false, std::span(out).first(6)), std::invalid_argument);
    const std::vector<int16_t> codes(4);
    EXPECT_THROW(storeCodes16At(codes, 2, false, false, out, 2), std::invalid_argument);
    EXPECT_NO_THROW(encodeSamplesAt(std::span(values).first(2), 2, s16, false, out, 1));
}

}  // namespace
}  // namespace host
