// Source names, generators, sound files and raw standard input.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "TestSupport.h"
#include "host/HostWarnings.h"
#include "host/sources/Generators.h"
#include "host/sources/SourceDescription.h"

namespace host {
namespace {

std::vector<double> readAll(AudioSource& source, size_t frames, double rate, uint32_t channels) {
    std::vector<double> out(frames * channels);
    out.resize(source.read(out, frames, rate, channels) * channels);
    return out;
}

std::unique_ptr<AudioSource> openFile(const std::string& path) {
    return openSource(parseSourceDescription("file:" + path), defaultAppEncoding());
}

// The host's warnings while it lives.
struct Warnings : std::vector<std::string> {
    Warnings() { setWarningSink([this](std::string_view line) { emplace_back(line); }); }
    ~Warnings() { setWarningSink({}); }
};

TEST(SourceDescription, ParsesEveryKindAndRejectsMalformedNames) {
    EXPECT_DOUBLE_EQ(parseSourceDescription("sine:440.5").frequency, 440.5);
    EXPECT_EQ(parseSourceDescription("noise:42").seed, 42u);
    EXPECT_EQ(parseSourceDescription("file:/a:b.wav").path, "/a:b.wav");
    const std::optional<RawInputFormat> raw = parseSourceDescription("-:F32BE:22050.5:3").stdinFormat;
    ASSERT_TRUE(raw);
    EXPECT_EQ(sampleLayoutName(raw->layout) + " " + std::to_string(raw->sampleRate) + " " + std::to_string(raw->channels),
              "f32be 22050.500000 3");
    for (const char* text : {"sine", "sine:abc", "sine:0", "sine:nan", "noise:x", "file:", "-:s16le:48000", "-:aac:48000:2",
                             "-:u8:48000:2", "-:s16:48000:2", "-:s16le:0:2", "-:s16le:48000:0", "tones:3", "bogus", ""})
        EXPECT_THROW(parseSourceDescription(text), std::invalid_argument) << text;
}

// Whole hertz repeat from one period; other tones are worked out frame by
// frame. Either way, minutes in and across a change of rate, every frame is
// the sine of its own time.
class Sine : public testing::TestWithParam<double> {};

TEST_P(Sine, StaysOnItsCurveForLongAndAcrossARateChange) {
    const double hertz = GetParam();
    SineGenerator sine(hertz, 0.5);
    std::vector<double> skip(44100);
    for (int second = 0; second < 120; ++second) sine.read(skip, 44100, 44100, 1);
    sine.read(skip, 1001, 44100, 1);
    const std::vector<double> values = readAll(sine, 5000, 48000, 2);
    for (size_t i = 0; i < 5000; ++i) {
        const double cycles = hertz * (120.0 + 1001.0 / 44100 + static_cast<double>(i) / 48000);
        ASSERT_NEAR(values[2 * i], 0.5 * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles))), 1e-9) << i;
        ASSERT_EQ(values[2 * i + 1], values[2 * i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Tones, Sine, testing::Values(220.0, 997.0, 25.5));

TEST(Generators, TonesDoNotDependOnHowReadsAreCutAndNoiseOnlyOnItsSeed) {
    SineGenerator sineA(441.7), sineB(441.7), periodicA(220), periodicB(220);
    MelodyGenerator melodyA, melodyB;
    NoiseGenerator noiseA(7), noiseB(7), other(8);
    for (uint32_t rate : {44100u, 8000u}) {  // and across a change of rate
        for (auto [a, b] : {std::pair<AudioSource*, AudioSource*>{&sineA, &sineB}, {&periodicA, &periodicB},
                            {&melodyA, &melodyB}, {&noiseA, &noiseB}}) {
            const std::vector<double> whole = readAll(*a, 30000, rate, 2);
            std::vector<double> pieces;
            for (size_t done = 0, size = 1; done < 30000; done += size, size = size * 3 + 7) {
                const auto part = readAll(*b, std::min<size_t>(size, 30000 - done), rate, 2);
                pieces.insert(pieces.end(), part.begin(), part.end());
            }
            EXPECT_EQ(whole, pieces) << rate;
        }
    }
    const auto noise = readAll(noiseA, 1000, 48000, 2);
    EXPECT_NE(noise, readAll(other, 1000, 48000, 2));
    EXPECT_NE(noise[0], noise[1]);  // channels are independent
}

// Stored samples reach the stream exactly, in every container's byte order,
// whether read as stored bytes or decoded by libsndfile (FLAC).
TEST(FileSource, EveryStoredFormatReadsExactlyAndEnds) {
    test::TempDir dir;
    const std::vector<int> codes{0, 1 << 24, -(1 << 24), 0x7F000000, INT32_MIN, 0x12000000, -0x34000000, 0x56000000};
    std::vector<double> values;
    for (int code : codes) values.push_back(code / 2147483648.0);
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                       SF_FORMAT_WAV | SF_FORMAT_PCM_32, SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAV | SF_FORMAT_DOUBLE,
                       SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, SF_FORMAT_AU | SF_FORMAT_FLOAT,
                       SF_FORMAT_CAF | SF_FORMAT_DOUBLE, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
        const std::string path = dir.file(std::to_string(format));
        if (const int subtype = format & SF_FORMAT_SUBMASK; subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
            test::writeWav(path, 44100, 2, format, values, sf_write_double);
        else
            test::writeWav(path, 44100, 2, format, codes, sf_write_int);
        auto source = openFile(path);
        EXPECT_EQ(readAll(*source, 10, 44100, 2), values) << std::hex << format;
        EXPECT_EQ(readAll(*source, 10, 44100, 2).size(), 0u);
    }
}

// Channels a file lacks get the mono mix, as the writer fits channels.
TEST(FileSource, FitsChannelsToTheStreamAsTheWriterDoes) {
    test::TempDir dir;
    test::writeWav16(dir.file("stereo.wav"), 8000, 2, {1000, 3000});
    EXPECT_EQ(readAll(*openFile(dir.file("stereo.wav")), 1, 8000, 3),
              (std::vector<double>{1000 / 32768.0, 3000 / 32768.0, 2000 / 32768.0}));
}

TEST(FileSource, ResamplesToTheStreamRateKeepingPitchAndLength) {
    test::TempDir dir;
    std::vector<short> tone(48000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<short>(10000 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0));
    test::writeWav16(dir.file("tone.wav"), 48000, 1, tone);
    auto source = openFile(dir.file("tone.wav"));
    std::vector<double> all;
    for (std::vector<double> part; !(part = readAll(*source, 4000, 44100, 1)).empty();) all.insert(all.end(), part.begin(), part.end());
    EXPECT_NEAR(static_cast<double>(all.size()), 44100, 10);
    size_t crossings = 0;
    for (size_t i = 1; i < all.size(); ++i) crossings += (all[i - 1] < 0) != (all[i] < 0) ? 1 : 0;
    EXPECT_NEAR(static_cast<double>(crossings), 2000, 4);
}

// A file cut short while it plays, and standard input ending in a partial
// frame: what came whole is delivered, then the stream ends with a warning.
TEST(FileSource, AFileCutShortWhilePlayingEndsTheStreamWithAWarning) {
    test::TempDir dir;
    test::writeWav16(dir.file("in.wav"), 8000, 1, std::vector<short>(80000, 100));
    auto source = openFile(dir.file("in.wav"));
    Warnings warnings;
    ASSERT_EQ(readAll(*source, 1000, 8000, 1).size(), 1000u);
    std::filesystem::resize_file(dir.file("in.wav"), 44 + 50000 * 2);
    EXPECT_LT(readAll(*source, 80000, 8000, 1).size(), 50000u);
    EXPECT_EQ(readAll(*source, 8000, 8000, 1).size(), 0u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("of its 80000 frames"), std::string::npos) << warnings[0];
}

TEST(StdinSource, ReadsRawPcmInItsFormatOrTheStreamsAndDropsAPartialFrame) {
    Warnings warnings;
    const struct {
        const char* text;
        uint32_t channels;
        std::vector<unsigned char> bytes;
        std::vector<double> values;
    } cases[] = {{"-:s16be:48000:2", 2, {0x40, 0x00, 0xC0, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x12}, {0.5, -0.5, 1 / 32768.0, -1 / 32768.0}},
                 {"-", 1, {0x00, 0x40}, {0.5}}};  // the mic's s16le mono
    for (const auto& c : cases) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
        ::close(fds[1]);
        EXPECT_EQ(readAll(*openSource(parseSourceDescription(c.text), defaultMicEncoding(), fds[0]), 8, 48000, c.channels),
                  c.values)
            << c.text;
        ::close(fds[0]);
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("1 byte into a frame of 4 bytes"), std::string::npos) << warnings[0];
}

}  // namespace
}  // namespace host
