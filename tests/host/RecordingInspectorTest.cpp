// What the summary reads back from the shared recording: length, peak, RMS
// and samples at full scale at every width over many read blocks; no level
// for silence, none for a damaged file or one that is not WAVE.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <random>

#include "host/summary/RecordingInspector.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace host {
namespace {

using Status = toolkit::RecordingSummary::Status;

TEST(RecordingInspector, LevelsAtEveryWidthOverManyBlocks) {
    testing_support::TempDirectory dir;
    std::mt19937 random(11);
    for (const media::WaveFormat format : {media::WaveFormat{8000, 3, 8}, media::WaveFormat{48000, 2, 16},
                                           media::WaveFormat{44100, 3, 24}, media::WaveFormat{8000, 3, 32}}) {
        SCOPED_TRACE(format.bitsPerSample);
        const auto mask = static_cast<int32_t>(~0u << (32 - format.bitsPerSample));
        std::vector<int32_t> samples(70001u * format.channels);  // more than one block, a ragged end
        for (int32_t& s : samples) s = (static_cast<int32_t>(random() % 0x40000000u) - 0x20000000) & mask;
        samples[7] = INT32_MAX & mask;
        samples[70000] = INT32_MIN;  // in the second block
        double sum = 0;
        for (const int32_t s : samples) sum += std::pow(std::ldexp(s, -31), 2);
        ASSERT_TRUE(testing_support::writeWave(dir / "r.wav", format, samples));

        const toolkit::RecordingSummary facts = inspectRecording(dir / "r.wav");
        ASSERT_EQ(facts.status, Status::Complete) << facts.error;
        EXPECT_EQ(facts.frames, 70001u);
        ASSERT_TRUE(facts.levels && facts.levels->rmsDbfs);
        EXPECT_EQ(facts.levels->peakDbfs, 0.0);  // the most negative code is exactly full scale
        EXPECT_NEAR(*facts.levels->rmsDbfs, 10 * std::log10(sum / static_cast<double>(samples.size())), 1e-6);
        EXPECT_EQ(facts.levels->fullScaleSamples, 2u);
    }
    ASSERT_TRUE(testing_support::writeWave(dir / "silent.wav", {44100, 2, 16}, std::vector<int32_t>(1000, 0)));
    EXPECT_EQ(inspectRecording(dir / "silent.wav").levels, (toolkit::RecordingLevels{std::nullopt, std::nullopt, 0}));
    ::truncate((dir / "silent.wav").c_str(), 500);
    const toolkit::RecordingSummary cut = inspectRecording(dir / "silent.wav");
    EXPECT_EQ(cut.status, Status::Incomplete);
    EXPECT_FALSE(cut.levels);
    ::truncate((dir / "silent.wav").c_str(), 11);
    EXPECT_EQ(inspectRecording(dir / "silent.wav").status, Status::Invalid);
}

}  // namespace
}  // namespace host
