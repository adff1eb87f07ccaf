// The buffers the host delivers: in every sample format, interleaved or one block per channel, they hold
// the source's values rounded, saturated and counted by the plain rules, in the format's own byte order,
// and their description says so; silence is the format's zero.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "host/scenario/AudioBufferMaker.h"
#include "host/sources/Generators.h"
#include "tests/support/SampleRules.h"

namespace host {
namespace {

// A finite source repeating a few values, whatever the rate.
struct Values final : AudioSource {
    Values(std::vector<double> v, size_t frames) : values(std::move(v)), left(frames) {}
    size_t read(std::span<double> out, size_t frames, double, uint32_t channels) override {
        const size_t count = std::min(frames, left);
        for (size_t i = 0; i < count * channels; ++i) out[i] = values[next++ % values.size()];
        left -= count;
        return count;
    }
    std::vector<double> values;
    size_t left, next = 0;
};

// Appends the stored bytes of one value by the plain rules.
void store(double value, const pcm::SampleEncoding& layout, std::vector<uint8_t>& bytes, uint64_t& clipped) {
    bool clip = false;
    const uint64_t raw =
        layout.kind != pcm::SampleKind::Float
            ? static_cast<uint64_t>(testing_support::quantiseRealReference(value, layout.validBits, clip))
        : layout.validBits == 32 ? std::bit_cast<uint32_t>(static_cast<float>(value))
                                 : std::bit_cast<uint64_t>(value);
    clipped += clip ? 1 : 0;
    for (size_t i = 0; i < layout.containerBytes; ++i)
        bytes.push_back(static_cast<uint8_t>(raw >> 8 * (layout.bigEndian ? layout.containerBytes - 1 - i : i)));
}

class EveryFormat : public testing::TestWithParam<std::tuple<const char*, bool>> {};

TEST_P(EveryFormat, HoldsTheValuesByThePlainRulesAndDescribesThem) {
    const auto [name, planar] = GetParam();
    const std::vector<double> values{0x12345678 / 2147483648.0, -1.0, 1.0, NAN, 1.7e-9, -0.5, 32767.5 / 32768, 0.25};
    const AudioEncoding encoding{parseSampleLayout(name), 48000, 3, 10, planar};
    Values source(values, 7);  // ends in the middle of the buffer
    AudioBufferMaker maker;
    ASSERT_EQ(maker.make(source, encoding, 10, kCMTimeZero), 7u);
    const CMSampleBuffer& buffer = maker.buffer();

    pcm::StreamLayout layout;
    ASSERT_TRUE(pcm::layoutFromDescription(
        *CMAudioFormatDescriptionGetStreamBasicDescription(&*buffer.formatDescription), layout));
    EXPECT_EQ(layout, (pcm::StreamLayout{encoding.layout, 3, !planar, 48000,
                                         layout.sample.containerBytes * (planar ? 1u : 3u)}));

    // The planes of a short buffer follow one another without gaps.
    std::vector<std::vector<uint8_t>> expected(planar ? 3 : 1);
    uint64_t clipped = 0;
    for (size_t frame = 0; frame < 7; ++frame)
        for (size_t channel = 0; channel < 3; ++channel)
            store(values[(frame * 3 + channel) % values.size()], encoding.layout, expected[planar ? channel : 0],
                  clipped);
    ASSERT_EQ(buffer.audioBuffers.size(), expected.size());
    for (size_t block = 0; block < expected.size(); ++block) {
        const auto* bytes = static_cast<const uint8_t*>(buffer.audioBuffers[block].mData);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + buffer.audioBuffers[block].mDataByteSize), expected[block])
            << block;
    }
    EXPECT_EQ(maker.clippedInLastBuffer(), clipped);

    // Silence, next in the same maker, is the format's zero in every byte it delivers.
    SilenceGenerator silence;
    ASSERT_EQ(maker.make(silence, encoding, 10, kCMTimeZero), 10u);
    std::vector<uint8_t> zeros;
    for (size_t sample = 0; sample < 30; ++sample) store(0.0, encoding.layout, zeros, clipped);
    std::vector<uint8_t> delivered;
    for (const AudioBuffer& block : maker.buffer().audioBuffers) {
        const auto* bytes = static_cast<const uint8_t*>(block.mData);
        delivered.insert(delivered.end(), bytes, bytes + block.mDataByteSize);
    }
    EXPECT_EQ(delivered, zeros);
}

INSTANTIATE_TEST_SUITE_P(Delivered, EveryFormat,
                         testing::Combine(testing::Values("s8", "s16le", "s16be", "s24le", "s24be", "s32le", "s32be",
                                                          "f32le", "f32be", "f64le", "f64be"),
                                          testing::Bool()),
                         [](const auto& row) {
                             return std::string(std::get<0>(row.param)) + (std::get<1>(row.param) ? "Planar" : "");
                         });

}  // namespace
}  // namespace host
