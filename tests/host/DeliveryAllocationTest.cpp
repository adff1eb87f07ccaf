// Delivering buffers allocates nothing once each stream has made its first
// buffer: a broadcast of any length runs in the same memory. Its own program,
// since it counts every operator new in the process.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "TestSupport.h"
#include "host/scenario/PreparedScenario.h"
#include "host/scenario/StreamScheduler.h"
#include "host/sources/SourceDescription.h"
#include "tests/support/CountingAllocator.h"

namespace host {
namespace {

TEST(Delivery, AllocatesNothingAfterEachStreamsFirstBuffer) {
    test::TempDir dir;
    std::vector<short> codes(44100 * 2 * 3);  // 3 s of stereo
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<short>(i * 37);
    test::writeWav16(dir.file("in.wav"), 44100, 2, codes);

    // The app's file at its own rate, or resampled.
    for (const auto& [micSource, appRate] : {std::pair{"sine:300", 44100.0}, {"tones", 48000.0}, {"sine:997.5", 44100.0},
                                             {"noise:3", 48000.0}, {"silence", 44100.0}}) {
        SCOPED_TRACE(micSource);
        StreamStep step;
        step.app = AudioStreamPlan{parseSourceDescription("file:" + dir.file("in.wav")), defaultAppEncoding()};
        step.app->encoding.sampleRate = appRate;
        step.mic = AudioStreamPlan{parseSourceDescription(micSource), defaultMicEncoding()};
        step.mic->encoding.nonInterleaved = true;
        step.mic->encoding.channels = 2;
        step.video = VideoStreamPlan{60};
        auto app = openSource(step.app->source, step.app->encoding);
        auto mic = openSource(step.mic->source, step.mic->encoding);

        std::set<RPSampleBufferType> seen;  // the streams that have delivered
        uint64_t settled = 0, allocationsAfter = 0, buffers = 0;
        const DeliverFunction deliver = [&](const DeliveredBuffer& buffer) {
            ++buffers;
            if (seen.size() < 3 && seen.insert(buffer.type).second) settled = testing_support::allocationCount();
            allocationsAfter = testing_support::allocationCount() - settled;
        };
        runStream(step, app.get(), mic.get(), 0, deliver);
        EXPECT_GT(buffers, 300u);
        EXPECT_EQ(allocationsAfter, 0u);
    }
}

}  // namespace
}  // namespace host
