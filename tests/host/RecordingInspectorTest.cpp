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
    for (const uint16_t bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const auto mask = static_cast<int32_t>(~0u << (32 - bits));
        std::vector<int32_t> samples(70001u * 3);  // more than one block, a ragged end
        for (int32_t& s : samples) s = (static_cast<int32_t>(random() % 0x40000000u) - 0x20000000) & mask;
        samples[7] = INT32_MAX & mask;
        samples[70000] = INT32_MIN;  // in the second block
        double sum = 0;
        for (const int32_t s : samples) sum += std::pow(std::ldexp(s, -31), 2);
        ASSERT_TRUE(testing_support::writeWave(dir / "r.wav", {44100, 3, bits}, samples));

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
    for (const auto& [size, status] : {std::pair{500, Status::Incomplete}, {11, Status::Invalid}}) {
        ::truncate((dir / "silent.wav").c_str(), size);
        const toolkit::RecordingSummary damaged = inspectRecording(dir / "silent.wav");
        EXPECT_EQ(damaged.status, status);
        EXPECT_FALSE(damaged.levels);
    }
}

}  // namespace
}  // namespace host
