// Delivering buffers allocates nothing once each stream has made its first buffer, so a broadcast of any
// length runs in the same memory. Its own program, since it counts every allocation in the process.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "host/scenario/StreamScheduler.h"
#include "host/sources/SourceDescription.h"
#include "tests/support/CountingAllocator.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace host {
namespace {

TEST(Delivery, AllocatesNothingAfterEachStreamsFirstBuffer) {
    testing_support::TempDirectory dir;
    std::vector<int32_t> codes(44100 * 2 * 3);  // 3 s of stereo
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<int32_t>(i * 37 << 16);
    ASSERT_TRUE(testing_support::writeWave(dir / "in.wav", {44100, 2, 16}, codes));

    // The app's file at its own rate or resampled; the mic planar, from every kind of generator.
    for (const auto& [micSource, appRate] : {std::pair{"sine:300", 44100.0},
                                             {"tones", 48000.0},
                                             {"sine:997.5", 44100.0},
                                             {"noise:3", 48000.0},
                                             {"silence", 44100.0}}) {
        AudioEncoding app = defaultAppEncoding(), mic = defaultMicEncoding();
        app.sampleRate = appRate;
        mic.channels = 2;
        mic.nonInterleaved = true;
        const StreamStep step{std::nullopt, AudioStreamPlan{parseSourceDescription("file:" + dir / "in.wav"), app},
                              AudioStreamPlan{parseSourceDescription(micSource), mic}, VideoStreamPlan{60}};
        std::set<RPSampleBufferType> seen;  // the streams that have delivered
        uint64_t settled = 0, allocationsAfter = 0, buffers = 0;
        runStream(step, openSource(step.app->source, app).get(), openSource(step.mic->source, mic).get(), 0,
                  [&](const DeliveredBuffer& buffer) {
                      ++buffers;
                      if (seen.size() < 3 && seen.insert(buffer.type).second)
                          settled = testing_support::allocationCount();
                      allocationsAfter = testing_support::allocationCount() - settled;
                  });
        EXPECT_GT(buffers, 300u) << micSource;
        EXPECT_EQ(allocationsAfter, 0u) << micSource;
    }
}

}  // namespace
}  // namespace host
