// What each source delivers: the source names, tones on their curve, sound files read exactly and resampled.
// (Raw PCM on standard input is tested end to end, partial frame included.)

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "host/HostWarnings.h"
#include "host/sources/SourceDescription.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace host {
namespace {

std::vector<double> readAll(AudioSource& source, size_t frames, double rate, uint32_t channels) {
    std::vector<double> out(frames * channels);
    out.resize(source.read(out, frames, rate, channels) * channels);
    return out;
}

std::unique_ptr<AudioSource> openNamed(const std::string& text) {
    return openSource(parseSourceDescription(text), defaultAppEncoding());
}

TEST(SourceDescription, ParsesEveryKindAndRejectsMalformedNames) {
    EXPECT_EQ(parseSourceDescription("noise:42").seed, 42u);
    EXPECT_EQ(parseSourceDescription("file:/a:b.wav").path, "/a:b.wav");
    const std::optional<RawInputFormat> raw = parseSourceDescription("-:F32BE:22050.5:3").stdinFormat;
    ASSERT_TRUE(raw);
    EXPECT_EQ(
        sampleLayoutName(raw->layout) + " " + std::to_string(raw->sampleRate) + " " + std::to_string(raw->channels),
        "f32be 22050.500000 3");
    for (const char* text :
         {"sine", "sine:abc", "sine:0", "sine:nan", "noise:x", "file:", "-:s16le:48000", "-:aac:48000:2",
          "-:u8:48000:2", "-:s16:48000:2", "-:s16le:0:2", "-:s16le:48000:0", "tones:3", "bogus", ""})
        EXPECT_THROW(parseSourceDescription(text), std::invalid_argument) << text;
}

// Every generator runs on however its reads are cut and across a change of rate. A sine, whether whole
// hertz repeated from one period or worked out frame by frame, is minutes in still the sine of its own time.
class Generator : public testing::TestWithParam<const char*> {};

TEST_P(Generator, RunsOnHoweverItsReadsAreCutAndASineStaysOnItsCurve) {
    auto whole = openNamed(GetParam()), cut = openNamed(GetParam());
    std::vector<double> expected, pieces;
    for (auto* source : {whole.get(), cut.get()})
        for (int second = 0; second < 120; ++second) readAll(*source, 44100, 44100, 1);
    for (double rate : {44100.0, 48000.0}) {
        const auto part = readAll(*whole, 30000, rate, 2);
        expected.insert(expected.end(), part.begin(), part.end());
        for (size_t done = 0, size = 1; done < 30000; done += size, size = size * 3 + 7) {
            const auto piece = readAll(*cut, std::min<size_t>(size, 30000 - done), rate, 2);
            pieces.insert(pieces.end(), piece.begin(), piece.end());
        }
    }
    ASSERT_EQ(expected, pieces);
    if (const SourceDescription sine = parseSourceDescription(GetParam()); sine.kind == SourceDescription::Kind::Sine)
        for (size_t i = 0; i < 60000; ++i) {
            const double seconds = 120 + (i < 30000 ? i / 44100.0 : 30000 / 44100.0 + (i - 30000) / 48000.0);
            const double cycles = sine.frequency * seconds;
            ASSERT_NEAR(expected[2 * i], 0.5 * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles))), 1e-9)
                << i;
            ASSERT_EQ(expected[2 * i + 1], expected[2 * i]);
        }
}

INSTANTIATE_TEST_SUITE_P(Sources, Generator, testing::Values("sine:220", "sine:997", "sine:25.5", "tones", "noise:7"));

// Stored samples reach the stream exactly, in every container's byte order,
// whether read as stored bytes or decoded by libsndfile (FLAC).
TEST(FileSource, EveryStoredFormatReadsExactlyAndEnds) {
    testing_support::TempDirectory dir;
    const std::vector<int> codes{0, 1 << 24, -(1 << 24), 0x7F000000, INT32_MIN, 0x12000000, -0x34000000, 0x56000000};
    std::vector<double> values;
    for (int code : codes) values.push_back(code / 2147483648.0);
    for (int format :
         {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
          SF_FORMAT_WAV | SF_FORMAT_PCM_32, SF_FORMAT_WAV | SF_FORMAT_FLOAT, SF_FORMAT_WAV | SF_FORMAT_DOUBLE,
          SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, SF_FORMAT_AU | SF_FORMAT_FLOAT,
          SF_FORMAT_CAF | SF_FORMAT_DOUBLE, SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
        SF_INFO info{0, 44100, 2, format, 0, 0};
        SNDFILE* file = sf_open((dir / "in").c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        const int subtype = format & SF_FORMAT_SUBMASK;  // ints keep their top bits, reals go as given
        subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE ? sf_write_double(file, values.data(), 8)
                                                                  : sf_write_int(file, codes.data(), 8);
        sf_close(file);
        auto source = openNamed("file:" + dir / "in");
        EXPECT_EQ(readAll(*source, 10, 44100, 2), values) << std::hex << format;
        EXPECT_EQ(readAll(*source, 10, 44100, 2).size(), 0u);
    }
}

// A mono file at 48 kHz on a stereo 44.1 kHz stream: a second long, on both channels, at its own pitch.
TEST(FileSource, ResamplesAndRemixesToTheStreamKeepingPitchAndLength) {
    testing_support::TempDirectory dir;
    std::vector<int32_t> tone(48000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int32_t>(1e9 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0));
    ASSERT_TRUE(testing_support::writeWave(dir / "tone.wav", {48000, 1, 32}, tone));
    auto source = openNamed("file:" + dir / "tone.wav");
    std::vector<double> all;
    for (std::vector<double> part; !(part = readAll(*source, 4000, 44100, 2)).empty();)
        all.insert(all.end(), part.begin(), part.end());
    EXPECT_NEAR(static_cast<double>(all.size()), 2 * 44100, 20);
    size_t crossings = 0;
    for (size_t i = 2; i < all.size(); i += 2) {
        ASSERT_EQ(all[i + 1], all[i]) << i;
        crossings += (all[i - 2] < 0) != (all[i] < 0) ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(crossings), 2000, 4);
}

// A file cut short while it plays: what came whole is delivered, then the stream ends with one warning.
TEST(FileSource, AFileCutShortWhilePlayingEndsTheStreamWithAWarning) {
    testing_support::TempDirectory dir;
    ASSERT_TRUE(testing_support::writeWave(dir / "in.wav", {8000, 1, 16}, std::vector<int32_t>(80000, 1 << 20)));
    auto source = openNamed("file:" + dir / "in.wav");
    std::vector<std::string> warnings;
    setWarningSink([&](std::string_view line) { warnings.emplace_back(line); });
    ASSERT_EQ(readAll(*source, 1000, 8000, 1).size(), 1000u);
    std::filesystem::resize_file(dir / "in.wav", 100000);
    EXPECT_LT(readAll(*source, 80000, 8000, 1).size(), 50000u);
    EXPECT_EQ(readAll(*source, 8000, 8000, 1).size(), 0u);
    setWarningSink({});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("of its 80000 frames"), std::string::npos) << warnings[0];
}

}  // namespace
}  // namespace host
