// Source names, generators, sound files and raw standard input.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

#include "TestSupport.h"
#include "host/HostError.h"
#include "host/HostWarnings.h"
#include "host/sources/Generators.h"
#include "host/sources/SourceDescription.h"

namespace host {
namespace {

std::vector<double> readAll(AudioSource& source, size_t frames, uint32_t rate, uint32_t channels, size_t* got = nullptr) {
    std::vector<double> out(frames * channels);
    const size_t n = source.read(out, frames, rate, channels);
    if (got != nullptr) *got = n;
    out.resize(n * channels);
    return out;
}

size_t zeroCrossings(const std::vector<double>& mono) {
    size_t count = 0;
    for (size_t i = 1; i < mono.size(); ++i) count += (mono[i - 1] < 0) != (mono[i] < 0) ? 1 : 0;
    return count;
}

// Collects the host's warnings while it lives.
struct Warnings {
    std::vector<std::string> lines;
    Warnings() {
        setWarningSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~Warnings() { setWarningSink({}); }
};

TEST(SourceDescription, ParsesEveryKind) {
    EXPECT_EQ(parseSourceDescription("sine:440").kind, SourceDescription::Kind::Sine);
    EXPECT_DOUBLE_EQ(parseSourceDescription("sine:440.5").frequency, 440.5);
    EXPECT_EQ(parseSourceDescription("tones").kind, SourceDescription::Kind::Melody);
    EXPECT_EQ(parseSourceDescription("noise").seed, 1u);
    EXPECT_EQ(parseSourceDescription("noise:42").seed, 42u);
    EXPECT_EQ(parseSourceDescription("silence").kind, SourceDescription::Kind::Silence);
    EXPECT_EQ(parseSourceDescription("none").kind, SourceDescription::Kind::None);
    EXPECT_EQ(parseSourceDescription("file:/a:b.wav").path, "/a:b.wav");
    EXPECT_FALSE(parseSourceDescription("-").stdinFormat);
    const SourceDescription raw = parseSourceDescription("-:f32be:22050.5:3");
    ASSERT_TRUE(raw.stdinFormat);
    EXPECT_EQ(raw.stdinFormat->layout.name(), "f32be");
    EXPECT_EQ(raw.stdinFormat->sampleRate, 22050.5);
    EXPECT_EQ(raw.stdinFormat->channels, 3u);
    EXPECT_TRUE(parseSourceDescription("file:x.flac").finite());
    EXPECT_FALSE(parseSourceDescription("noise").finite());
}

TEST(SourceDescription, RejectsMalformedNames) {
    for (const char* text : {"sine", "sine:", "sine:abc", "sine:0", "sine:-5", "sine:nan", "noise:x", "noise:1:2",
                             "file:", "-:s16le:48000", "-:aac:48000:2", "-:s16le:0:2", "-:s16le:nan:2", "-:s16le:48000:0", "tones:3",
                             "bogus", ""})
        EXPECT_THROW(parseSourceDescription(text), std::invalid_argument) << text;
}

TEST(Generators, SineHasItsFrequencyAndLevel) {
    SineGenerator sine(1000);
    const std::vector<double> second = readAll(sine, 48000, 48000, 1);
    EXPECT_NEAR(static_cast<double>(zeroCrossings(second)), 2000, 2);
    double peak = 0;
    for (double v : second) peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.5, 1e-3);
}

TEST(Generators, TimeContinuesAcrossARateChange) {
    for (const double hertz : {25.0, 25.5}) {  // copied from one period, and stepped
        SineGenerator sine(hertz);
        readAll(sine, 441, 44100, 1);  // 10 ms
        const std::vector<double> next = readAll(sine, 1, 48000, 2);
        EXPECT_NEAR(next[0], 0.5 * std::sin(2 * std::numbers::pi * hertz * 0.01), 1e-9) << hertz;
        EXPECT_EQ(next[0], next[1]);
    }
}

// Reads `total` frames in pieces of growing, ragged sizes.
std::vector<double> readInPieces(AudioSource& source, size_t total, uint32_t rate, uint32_t channels) {
    std::vector<double> all;
    for (size_t done = 0, size = 1; done < total; done += size, size = size * 3 + 7) {
        size = std::min(size, total - done);
        const auto part = readAll(source, size, rate, channels);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(Generators, TonesDoNotDependOnHowReadsAreCut) {
    SineGenerator sineA(441.7), sineB(441.7), periodicA(220), periodicB(220);
    MelodyGenerator melodyA, melodyB;
    for (uint32_t rate : {44100u, 8000u}) {  // and across a change of rate
        EXPECT_EQ(readAll(sineA, 20000, rate, 2), readInPieces(sineB, 20000, rate, 2));
        EXPECT_EQ(readAll(periodicA, 20000, rate, 2), readInPieces(periodicB, 20000, rate, 2));
        EXPECT_EQ(readAll(melodyA, 30000, rate, 1), readInPieces(melodyB, 30000, rate, 1));
    }
}

TEST(Generators, SineStaysOnItsCurveForLong) {
    // Ten minutes in, well past any rounding that could build up; 997 Hz is
    // stepped, 220 Hz copied from one period.
    for (const double hertz : {997.0, 220.0}) {
        SineGenerator sine(hertz, 0.5);
        std::vector<double> skip(48000);
        for (int second = 0; second < 600; ++second) sine.read(skip, 48000, 48000, 1);
        const std::vector<double> values = readAll(sine, 5000, 48000, 1);
        for (size_t i = 0; i < values.size(); ++i) {
            const double cycles = hertz * (600.0 + static_cast<double>(i) / 48000);
            ASSERT_NEAR(values[i], 0.5 * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles))), 1e-9)
                << hertz << " Hz, frame " << i;
        }
    }
}

TEST(Generators, MelodyIsTheScoreWithItsEnvelope) {
    // The first two seconds: C, C, G, G with 10 ms attack and 80 ms release.
    MelodyGenerator melody;
    const std::vector<double> values = readAll(melody, 88200, 44100, 1);
    const double notes[] = {523.2511306, 523.2511306, 783.9908720, 783.9908720};
    for (size_t i = 0; i < values.size(); i += 7) {
        const double t = static_cast<double>(i) / 44100;
        const auto note = static_cast<size_t>(t / 0.5);
        const double into = t - 0.5 * static_cast<double>(note);
        const double envelope = std::clamp(std::min(into / 0.01, (0.5 - into) / 0.08), 0.0, 1.0);
        const double phase = 2 * std::numbers::pi * notes[note] * into;
        ASSERT_NEAR(values[i], envelope * (0.4 * std::sin(phase) + 0.1 * std::sin(2 * phase)), 1e-6) << i;
    }
}

TEST(Generators, MelodyPlaysItsNotesAndLoops) {
    EXPECT_NEAR(MelodyGenerator::noteFrequencyAt(0.1), 523.25, 0.01);  // C
    EXPECT_NEAR(MelodyGenerator::noteFrequencyAt(1.1), 783.99, 0.01);  // G
    EXPECT_NEAR(MelodyGenerator::noteFrequencyAt(2.1), 880.00, 0.01);  // A
    EXPECT_NEAR(MelodyGenerator::noteFrequencyAt(8.1), 523.25, 0.01);  // again from the top
    MelodyGenerator melody;
    const std::vector<double> samples = readAll(melody, 44100, 44100, 1);
    double peak = 0;
    for (double v : samples) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.3);
    EXPECT_LT(peak, 1.0);
    // Repeated notes are heard apart: the level dips between them.
    EXPECT_LT(std::fabs(samples[22049]), 0.02);
}

TEST(Generators, NoiseIsReproducibleForASeedAndIndependentPerChannel) {
    NoiseGenerator a(7), b(7), c(8);
    const auto first = readAll(a, 1000, 48000, 2);
    EXPECT_EQ(first, readAll(b, 1000, 48000, 2));
    EXPECT_NE(first, readAll(c, 1000, 48000, 2));
    EXPECT_NE(first[0], first[1]);
    for (double v : first) EXPECT_TRUE(v >= -0.5 && v < 0.5);
}

TEST(FileSource, DeliversIntegerSamplesExactlyAndEnds) {
    test::TempDir dir;
    const std::vector<short> codes{0, 1, -1, 32767, -32768, 12345, -321, 7};
    test::writeWav16(dir.file("in.wav"), 44100, 2, codes);
    auto source = openSource(parseSourceDescription("file:" + dir.file("in.wav")), defaultAppEncoding());
    EXPECT_TRUE(source->finite());
    size_t got = 0;
    const std::vector<double> values = readAll(*source, 10, 44100, 2, &got);
    ASSERT_EQ(got, 4u);
    for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(values[i], codes[i] / 32768.0);
    EXPECT_EQ(readAll(*source, 10, 44100, 2, &got).size(), 0u);
}

TEST(FileSource, SixteenBitFileHandsOverItsCodesAtItsOwnRateAndChannels) {
    test::TempDir dir;
    const std::vector<short> codes{0, 1, -1, 32767, -32768, 12345, -321, 7, 99, -99};
    test::writeWav16(dir.file("in.wav"), 44100, 2, codes);
    test::writeWavFloat(dir.file("float.wav"), 44100, 2, {0.5f, -0.5f});
    auto source = openSource(parseSourceDescription("file:" + dir.file("in.wav")), defaultAppEncoding());
    EXPECT_TRUE(source->deliversCodes16(44100, 2));
    EXPECT_FALSE(source->deliversCodes16(48000, 2));  // needs resampling
    EXPECT_FALSE(source->deliversCodes16(44100, 1));  // needs mixing
    auto floats = openSource(parseSourceDescription("file:" + dir.file("float.wav")), defaultAppEncoding());
    EXPECT_FALSE(floats->deliversCodes16(44100, 2));
    EXPECT_THROW(floats->readCodes16({}, 0, 44100, 2), std::logic_error);

    // Codes and values continue one another.
    std::vector<int16_t> first(4);
    ASSERT_EQ(source->readCodes16(first, 2, 44100, 2), 2u);
    EXPECT_EQ(first, (std::vector<int16_t>{0, 1, -1, 32767}));
    EXPECT_EQ(readAll(*source, 1, 44100, 2), (std::vector<double>{-1.0, 12345 / 32768.0}));
    std::vector<int16_t> rest(8);
    ASSERT_EQ(source->readCodes16(rest, 4, 44100, 2), 2u);  // the file ends
    EXPECT_EQ(std::vector<int16_t>(rest.begin(), rest.begin() + 4), (std::vector<int16_t>{-321, 7, 99, -99}));
    EXPECT_EQ(source->readCodes16(rest, 4, 44100, 2), 0u);
}

TEST(FileSource, FitsChannelsToTheStream) {
    test::TempDir dir;
    test::writeWav16(dir.file("mono.wav"), 8000, 1, {1000, -2000});
    test::writeWav16(dir.file("stereo.wav"), 8000, 2, {1000, 3000, -2000, 0});
    auto mono = openSource(parseSourceDescription("file:" + dir.file("mono.wav")), defaultAppEncoding());
    EXPECT_EQ(readAll(*mono, 2, 8000, 2), (std::vector<double>{1000 / 32768.0, 1000 / 32768.0, -2000 / 32768.0,
                                                              -2000 / 32768.0}));
    auto stereo = openSource(parseSourceDescription("file:" + dir.file("stereo.wav")), defaultAppEncoding());
    EXPECT_EQ(readAll(*stereo, 2, 8000, 1), (std::vector<double>{2000 / 32768.0, -1000 / 32768.0}));
}

TEST(FileSource, ResamplesToTheStreamRateKeepingPitch) {
    test::TempDir dir;
    std::vector<short> tone(48000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<short>(10000 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0));
    test::writeWav16(dir.file("tone.wav"), 48000, 1, tone);
    auto source = openSource(parseSourceDescription("file:" + dir.file("tone.wav")), defaultAppEncoding());
    std::vector<double> all;
    while (true) {
        size_t got = 0;
        const auto part = readAll(*source, 4000, 44100, 1, &got);
        if (got == 0) break;
        all.insert(all.end(), part.begin(), part.end());
    }
    EXPECT_NEAR(static_cast<double>(all.size()), 44100, 10);
    EXPECT_NEAR(static_cast<double>(zeroCrossings(all)), 2000, 4);
}

TEST(FileSource, AFileCutShortWhilePlayingEndsTheStreamWithAWarning) {
    test::TempDir dir;
    test::writeWav16(dir.file("in.wav"), 8000, 1, std::vector<short>(8000, 100));
    auto source = openSource(parseSourceDescription("file:" + dir.file("in.wav")), defaultAppEncoding());
    Warnings warnings;
    size_t got = 0;
    readAll(*source, 1000, 8000, 1, &got);
    ASSERT_EQ(got, 1000u);
    std::filesystem::resize_file(dir.file("in.wav"), 44 + 3000 * 2);
    readAll(*source, 8000, 8000, 1, &got);
    EXPECT_LT(got, 8000u - 1000u);
    readAll(*source, 8000, 8000, 1, &got);
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_NE(warnings.lines[0].find("of its 8000 frames"), std::string::npos) << warnings.lines[0];
}

TEST(FileSource, MissingOrUnreadableFileIsABadSource) {
    test::TempDir dir;
    test::writeWav16(dir.file("ok.wav"), 8000, 1, {1});
    std::FILE* junk = std::fopen(dir.file("junk.wav").c_str(), "w");
    std::fputs("not a sound file", junk);
    std::fclose(junk);
    for (const std::string& path : {dir.file("absent.wav"), dir.file("junk.wav"), dir.path()}) {
        try {
            openSource(parseSourceDescription("file:" + path), defaultAppEncoding());
            ADD_FAILURE() << path << " opened";
        } catch (const HostError& error) {
            EXPECT_EQ(error.code(), ExitCode::BadSource);
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
        }
    }
}

TEST(StdinSource, ReadsRawPcmInTheStatedFormatAndDropsAPartialFrameWithAWarning) {
    Warnings warnings;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Two s16be stereo frames, then one stray byte.
    const unsigned char bytes[] = {0x40, 0x00, 0xC0, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x12};
    ASSERT_EQ(::write(fds[1], bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
    ::close(fds[1]);
    auto source = openSource(parseSourceDescription("-:s16be:44100:2"), defaultMicEncoding(), fds[0]);
    size_t got = 0;
    const auto values = readAll(*source, 8, 44100, 2, &got);
    ::close(fds[0]);
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(values, (std::vector<double>{0.5, -0.5, 1 / 32768.0, -1 / 32768.0}));
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_NE(warnings.lines[0].find("1 byte into a frame of 4 bytes"), std::string::npos) << warnings.lines[0];
}

TEST(StdinSource, WithoutAStatedFormatUsesTheStreamEncoding) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const unsigned char bytes[] = {0x00, 0x40};  // s16le 0.5, the mic's default format
    ASSERT_EQ(::write(fds[1], bytes, sizeof bytes), 2);
    ::close(fds[1]);
    auto source = openSource(parseSourceDescription("-"), defaultMicEncoding(), fds[0]);
    const auto values = readAll(*source, 4, 48000, 1);
    ::close(fds[0]);
    EXPECT_EQ(values, (std::vector<double>{0.5}));
}

}  // namespace
}  // namespace host
