// Buffers whose rate, channel count or layout differ from the file's: the file keeps the duration of the audio
// delivered, a sine keeps its pitch, and each buffer is read as its own description says.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

#include "MediaTestSupport.h"

namespace {

using namespace mediatest;

// Each half second of a 1 kHz tone, resampled or not, in 1,024-frame buffers, fills half a second of the file; what the
// resampler holds at the end reaches the file too.
TEST(RateChanges, DurationAndPitchSurviveResamplingToTheEnd) {
    TempDirectory dir;
    Recording r = startRecording(dir / "rates.wav", 48000, 16, 1);
    for (const int rate : {48000, 44100, 96000, 22050, 48000, 44100}) {
        for (int at = 0; at < rate / 2; at += 1024) {
            std::vector<float> part;
            for (int f = at; f < std::min(at + 1024, rate / 2); ++f)
                part.push_back(static_cast<float>(0.5 * std::sin(2 * M_PI * 1000 * f / rate)));
            ASSERT_TRUE(r.input->appendSampleBuffer(testing_support::makeFloatBuffer(part, 1, rate)->ref()));
        }
    }
    ASSERT_TRUE(r.writer->finishWriting());

    const std::vector<double> s = readWave(dir / "rates.wav").reals;
    ASSERT_NEAR(static_cast<double>(s.size()), 6 * 24000.0, 64.0);
    for (size_t from = 2000; from < 6 * 24000; from += 24000) {
        size_t crossings = 0;
        for (size_t i = from; i < from + 20000; ++i) crossings += (s[i - 1] < 0) != (s[i] < 0) ? 1 : 0;
        EXPECT_NEAR(static_cast<double>(crossings), 2 * 1000 * 20000 / 48000.0, 2.0) << from;
        EXPECT_NEAR(*std::max_element(s.begin() + from, s.begin() + from + 20000), 0.5, 0.01) << from;
    }
}

// Mono spreads, stereo averages into mono, wider keeps the front pair, and stereo into surround fills the rest with the
// mono mix; one file may see several channel counts in turn.
TEST(ChannelChanges, EachCountBecomesTheFilesChannels) {
    const struct {
        uint32_t fileChannels;
        std::vector<std::pair<uint32_t, std::vector<int16_t>>> buffers;  // channels, samples
        std::vector<int32_t> expected;
    } cases[] = {
        {2,
         {{1, {1000, -2000, 3000}},
          {6, {100, 200, 300, 400, 500, 600, -100, -200, -300, -400, -500, -600}},
          {2, {7, 8}}},
         {1000, 1000, -2000, -2000, 3000, 3000, 100, 200, -100, -200, 7, 8}},
        {1, {{2, {1000, 3000, -1000, -4000}}}, {2000, -2500}},
        {6, {{2, {1000, 3000}}}, {1000, 3000, 2000, 2000, 2000, 2000}},
    };
    TempDirectory dir;
    for (const auto& c : cases) {
        const std::string path = dir / (std::to_string(c.fileChannels) + "-channels.wav");
        Recording r = startRecording(path, 48000, 16, c.fileChannels);
        for (const auto& [channels, samples] : c.buffers)
            ASSERT_TRUE(
                r.input->appendSampleBuffer(testing_support::makeInt16Buffer(samples, channels, 48000, false)->ref()));
        ASSERT_TRUE(r.writer->finishWriting());
        std::vector<int32_t> got;
        for (int32_t v : readWave(path).samples) got.push_back(v >> 16);
        EXPECT_EQ(got, c.expected) << c.fileChannels << " channels";
    }
}

// Buffers alike in rate, channels and sample size that differ only in byte order, or only in integer against float:
// each is read as its own description says. Buffers are long enough to reach the vectorised kernels, and odd so that
// the kernels' tails run too.
TEST(SampleFormatChanges, ByteOrderOrSampleKindAloneIsNoticed) {
    constexpr AudioFormatFlags kInt = kAudioFormatFlagIsSignedInteger, kFloat = kAudioFormatFlagIsFloat,
                               kBig = kAudioFormatFlagIsBigEndian;
    const struct {
        const char* name;
        uint32_t storedBits, fileBits;
        std::vector<AudioFormatFlags> buffers;
    } cases[] = {
        {"16-bit byte order", 16, 16, {kInt, kInt | kBig, kInt}},
        {"32-bit byte order and kind", 32, 32, {kFloat, kFloat | kBig, kInt | kBig, kInt, kFloat}},
        {"32-bit into 16 bits", 32, 16, {kFloat, kInt, kInt | kBig}},
    };
    constexpr uint32_t kFrames = 61;
    TempDirectory dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".wav");
        Recording r = startRecording(path, 48000, c.fileBits, 2);
        std::vector<int32_t> expected;  // as read back: scaled to 32 bits
        for (size_t b = 0; b < c.buffers.size(); ++b) {
            const AudioFormatFlags flags = c.buffers[b];
            std::vector<uint8_t> bytes;
            for (uint32_t i = 0; i < 2 * kFrames; ++i) {
                // Distinct values per buffer, each exact in every stored format.
                const int32_t v = static_cast<int32_t>((i * 977 + b * 4099) % 60000) - 30000;
                const uint32_t word =
                    (flags & kFloat) != 0
                        ? std::bit_cast<uint32_t>(static_cast<float>(std::ldexp(v, 1 - static_cast<int>(c.fileBits))))
                        : static_cast<uint32_t>(v) << (c.storedBits - c.fileBits);
                for (uint32_t k = 0; k < c.storedBits / 8; ++k)
                    bytes.push_back(
                        static_cast<uint8_t>(word >> ((flags & kBig) != 0 ? c.storedBits - 8 - 8 * k : 8 * k)));
                expected.push_back(static_cast<int32_t>(static_cast<uint32_t>(v) << (32 - c.fileBits)));
            }
            const auto description = makeLinearPCMDescription(48000, 2, c.storedBits, flags);
            ASSERT_TRUE(r.input->appendSampleBuffer(makeAudioBuffer(description, kFrames, {bytes})->ref()));
        }
        ASSERT_TRUE(r.writer->finishWriting());
        EXPECT_EQ(readWave(path).samples, expected);
    }
}

}  // namespace
