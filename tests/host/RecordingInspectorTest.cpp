// What the summary reads back from the shared recording: length, peak, RMS
// and samples at full scale, for every integer width and for float.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "TestSupport.h"
#include "host/summary/RecordingInspector.h"

namespace host {
namespace {

struct Expected {
    double peak = 0;
    double rms = 0;
    uint64_t fullScale = 0;
};

// Levels worked out the plain way from the values (full scale 1.0).
Expected levelsOf(const std::vector<double>& values, double largest) {
    Expected expected;
    double sum = 0;
    for (double v : values) {
        expected.peak = std::max(expected.peak, std::fabs(v));
        sum += v * v;
        if (v >= largest || v <= -1.0) ++expected.fullScale;
    }
    expected.rms = std::sqrt(sum / static_cast<double>(values.size()));
    return expected;
}

using Facts = toolkit::RecordingSummary;

void expectLevels(const Facts& facts, const Expected& expected) {
    ASSERT_TRUE(facts.levels && facts.levels->peakDbfs && facts.levels->rmsDbfs);
    EXPECT_NEAR(*facts.levels->peakDbfs, 20 * std::log10(expected.peak), 1e-9);
    EXPECT_NEAR(*facts.levels->rmsDbfs, 20 * std::log10(expected.rms), 1e-9);
    EXPECT_EQ(facts.levels->fullScaleSamples, expected.fullScale);
}

TEST(RecordingInspector, SixteenBitAcrossManyChunksWithBothFullScaleEnds) {
    test::TempDir dir;
    std::mt19937 random(11);
    std::vector<short> codes(100001 * 2);  // several read chunks and a ragged end
    for (short& code : codes) code = static_cast<short>(static_cast<int>(random() % 20001) - 10000);
    codes[7] = 32767;
    codes[70001] = -32768;
    codes[150000] = 32767;
    test::writeWav16(dir.file("r.wav"), 48000, 2, codes);
    const Facts facts = inspectRecording(dir.file("r.wav"));
    EXPECT_EQ(facts.container, "RIFF");
    EXPECT_EQ(facts.bitsPerSample, 16u);
    EXPECT_EQ(facts.frames, 100001u);
    EXPECT_NEAR(facts.durationSeconds, 100001 / 48000.0, 1e-12);
    std::vector<double> values;
    for (short code : codes) values.push_back(code / 32768.0);
    expectLevels(facts, levelsOf(values, 32767 / 32768.0));
    EXPECT_EQ(facts.levels->peakDbfs, 0.0);  // -32768 is exactly full scale
}

TEST(RecordingInspector, EightTwentyFourAndThirtyTwoBitCodesReadExactly) {
    test::TempDir dir;
    struct Width {
        int subformat;
        int bits;
        const char* name;
    };
    for (const Width width : {Width{SF_FORMAT_PCM_U8, 8, "8-bit"}, Width{SF_FORMAT_PCM_24, 24, "24-bit"},
                              Width{SF_FORMAT_PCM_32, 32, "32-bit"}}) {
        const int64_t top = (int64_t{1} << (width.bits - 1)) - 1;
        const std::vector<int64_t> codes{top, -top - 1, top / 3, -5, 0, 1};
        std::vector<int> stored;
        std::vector<double> values;
        for (int64_t code : codes) {
            stored.push_back(static_cast<int>(code * (int64_t{1} << (32 - width.bits))));
            values.push_back(std::ldexp(static_cast<double>(code), 1 - width.bits));
        }
        const std::string path = dir.file(std::string(width.name) + ".wav");
        test::writeWavInts(path, 8000, 3, width.subformat, stored);
        const Facts facts = inspectRecording(path);
        EXPECT_EQ(facts.bitsPerSample, static_cast<uint32_t>(width.bits));
        EXPECT_EQ(facts.frames, 2u);
        SCOPED_TRACE(width.name);
        expectLevels(facts, levelsOf(values, std::ldexp(static_cast<double>(top), 1 - width.bits)));
    }
}

TEST(RecordingInspector, FloatCountsFullScaleAndBeyond) {
    test::TempDir dir;
    const std::vector<float> samples{0.5f, -1.5f, 0.25f, 1.0f, -0.125f, 0.0f};
    test::writeWavFloat(dir.file("f.wav"), 44100, 1, samples);
    const Facts facts = inspectRecording(dir.file("f.wav"));
    EXPECT_EQ(facts.bitsPerSample, 32u);
    expectLevels(facts, levelsOf(std::vector<double>(samples.begin(), samples.end()), 1.0));
}

TEST(RecordingInspector, SilenceAndEmptyFilesHaveNoLevel) {
    test::TempDir dir;
    test::writeWav16(dir.file("silent.wav"), 44100, 2, std::vector<short>(1000, 0));
    test::writeWav16(dir.file("empty.wav"), 44100, 2, {});
    for (const char* name : {"silent.wav", "empty.wav"}) {
        const Facts facts = inspectRecording(dir.file(name));
        EXPECT_EQ(facts.levels, (toolkit::RecordingLevels{std::nullopt, std::nullopt, 0})) << name;
    }
    EXPECT_EQ(inspectRecording(dir.file("empty.wav")).frames, 0u);
}

TEST(RecordingInspector, WhatIsNotSoundIsAnError) {
    test::TempDir dir;
    std::FILE* junk = std::fopen(dir.file("junk.wav").c_str(), "w");
    std::fputs("RIFF but not really", junk);
    std::fclose(junk);
    EXPECT_THROW(inspectRecording(dir.file("junk.wav")), std::runtime_error);
    EXPECT_THROW(inspectRecording(dir.file("absent.wav")), std::runtime_error);
}

}  // namespace
}  // namespace host
