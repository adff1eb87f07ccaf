// Sample layouts and the encoder that lays samples into delivered buffers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

}  // namespace
}  // namespace host
