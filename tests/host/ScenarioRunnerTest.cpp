// The host's calls on the principal class: order, buffers, times, content.

#include <gtest/gtest.h>

#include <algorithm>

#include "FakeHandler.h"
#include "TestSupport.h"
#include "host/cli/HostOptions.h"
#include "host/scenario/HostClock.h"
#include "host/scenario/ScenarioParser.h"
#include "host/scenario/ScenarioRunner.h"
#include "host/sources/Generators.h"
#include "platform/pcm/SampleCodecs.h"

namespace host {
namespace {

using test::Call;
using test::CallLog;

struct Ended : RunObserver {
    std::vector<std::pair<int, bool>> ends;
    void broadcastEnded(int broadcast, bool withError) override { ends.emplace_back(broadcast, withError); }
};

CallLog play(Scenario scenario, Ended* observer = nullptr) {
    CallLog log;
    Ended fallback;
    PreparedScenario prepared = prepareScenario(std::move(scenario));
    ScenarioRunner runner([&log] { return test::makeFake(log); }, observer ? *observer : fallback,
                          {false, kHostClockStartNanos});
    runner.run(prepared);
    return log;
}

CallLog playJson(std::string_view json, Ended* observer = nullptr) {
    return play(parseScenario(json, "test"), observer);
}

double seconds(const Call* call) { return call->time.seconds(); }

TEST(ScenarioRunner, DefaultBroadcastDeliversTheRealHostsStreamsInTimeOrder) {
    const CallLog log = play(scenarioFromOptions(HostOptions{}));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"begin", "start", "finish"}));
    ASSERT_TRUE(log.calls[1].setupInfo);
    EXPECT_FALSE(log.calls[1].setupInfo->empty());

    const auto app = log.buffers(RPSampleBufferTypeAudioApp);
    const auto mic = log.buffers(RPSampleBufferTypeAudioMic);
    const auto video = log.buffers(RPSampleBufferTypeVideo);
    EXPECT_EQ(app.size(), 20u);   // 10 s of 22,050-frame buffers at 44.1 kHz
    EXPECT_EQ(mic.size(), 469u);  // 480,000 frames in 1,024-frame buffers
    EXPECT_EQ(mic.back()->frames, 480000 - 468 * 1024);
    EXPECT_EQ(video.size(), 300u);

    const AudioStreamBasicDescription& appFormat = *app[0]->description;
    EXPECT_EQ(appFormat.mSampleRate, 44100);
    EXPECT_EQ(appFormat.mChannelsPerFrame, 2u);
    EXPECT_EQ(appFormat.mBitsPerChannel, 16u);
    EXPECT_EQ(appFormat.mFormatFlags & (kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger |
                                        kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved),
              kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger);
    ASSERT_EQ(app[0]->blocks.size(), 1u);
    EXPECT_EQ(app[0]->blocks[0].mNumberChannels, 2u);
    EXPECT_EQ(app[0]->blocks[0].mDataByteSize, 22050u * 4);
    EXPECT_EQ(mic[0]->description->mFormatFlags & kAudioFormatFlagIsBigEndian, 0u);
    EXPECT_EQ(mic[0]->description->mSampleRate, 48000);
    EXPECT_EQ(mic[0]->frames, 1024);
    EXPECT_EQ(*video[0]->mediaType, CMMediaType::Video);
    EXPECT_FALSE(video[0]->description);
    EXPECT_TRUE(video[0]->blocks.empty());

    // One host clock, not starting at zero, never going back.
    double last = 0;
    for (const Call& call : log.calls) {
        if (call.name != "processSampleBuffer") continue;
        EXPECT_GE(seconds(&call), last);
        last = seconds(&call);
    }
    EXPECT_GE(seconds(app[0]), 3600.0);
    EXPECT_NEAR(seconds(app[1]) - seconds(app[0]), 0.5, 1e-9);
    EXPECT_NEAR(seconds(video[1]) - seconds(video[0]), 1.0 / 30, 1e-9);
    EXPECT_LT(last - seconds(app[0]), 10.0);
}

TEST(ScenarioRunner, AppBuffersCarryTheSourceEncodedInTheStatedLayout) {
    const CallLog log = playJson(R"({"steps": [{"step": "stream", "seconds": 0.1, "mic": null, "video": null,
        "app": {"source": "tones", "format": "s24le", "rate": 48000, "channels": 2, "frames": 1000,
                "nonInterleaved": true}}]})");
    const auto app = log.buffers(RPSampleBufferTypeAudioApp);
    ASSERT_EQ(app.size(), 5u);
    MelodyGenerator melody;
    EXPECT_EQ(app.back()->frames, 4800 - 4 * 1000);
    for (const Call* call : app) {
        ASSERT_EQ(call->blocks.size(), 2u);
        const auto frames = static_cast<size_t>(call->frames);
        std::vector<double> samples(frames * 2);
        melody.read(samples, frames, 48000, 2);
        std::vector<std::byte> expected(samples.size() * 3);
        for (size_t channel = 0; channel < 2; ++channel) {
            std::vector<double> plane;
            for (size_t f = 0; f < frames; ++f) plane.push_back(samples[2 * f + channel]);
            pcm::codecFor(parseSampleLayout("s24le"))
                .encodeReal(plane.data(), frames, reinterpret_cast<uint8_t*>(expected.data()) + channel * frames * 3);
        }
        for (size_t channel = 0; channel < 2; ++channel) {
            EXPECT_EQ(call->blocks[channel].mNumberChannels, 1u);
            ASSERT_EQ(call->bytes[channel].size(), frames * 3);
            EXPECT_TRUE(std::equal(call->bytes[channel].begin(), call->bytes[channel].end(),
                                   expected.begin() + static_cast<std::ptrdiff_t>(channel * frames * 3),
                                   [](uint8_t a, std::byte b) { return a == std::to_integer<uint8_t>(b); }));
        }
    }
}

TEST(ScenarioRunner, SingleBuffersOfAnyTypeNullAndWithoutFormat) {
    const CallLog log = playJson(R"({"steps": [{"step": "begin"}, {"step": "start", "setupInfo": null},
        {"step": "buffer", "type": 0}, {"step": "buffer", "type": 4}, {"step": "buffer", "type": -1},
        {"step": "buffer", "type": 2, "kind": "null"}, {"step": "buffer", "type": 2, "kind": "noFormat", "frames": 8},
        {"step": "buffer", "type": 1}, {"step": "finish"}]})");
    EXPECT_FALSE(log.calls[1].setupInfo);
    std::vector<const Call*> buffers;
    for (const Call& call : log.calls)
        if (call.name == "processSampleBuffer") buffers.push_back(&call);
    ASSERT_EQ(buffers.size(), 6u);
    EXPECT_EQ(buffers[0]->type, 0);
    EXPECT_EQ(buffers[1]->type, 4);
    EXPECT_EQ(buffers[2]->type, -1);
    EXPECT_TRUE(buffers[2]->description);
    EXPECT_TRUE(buffers[3]->nullBuffer);
    EXPECT_EQ(buffers[3]->type, 2);
    EXPECT_FALSE(buffers[4]->hasFormat);
    EXPECT_EQ(buffers[4]->frames, 8);
    EXPECT_EQ(buffers[4]->bytes.at(0).size(), 8u * 4);
    EXPECT_EQ(*buffers[5]->mediaType, CMMediaType::Video);
    EXPECT_LT(seconds(buffers[1]), seconds(buffers[2]));  // each audio buffer moves the clock on
}

TEST(ScenarioRunner, EachBeginMakesANewPrincipalClassAndEndsAreReportedOnce) {
    Ended ended;
    CallLog log = playJson(R"({"steps": [{"step": "begin"}, {"step": "start"}, {"step": "finish"},
        {"step": "finish"}, {"step": "begin"}, {"step": "finishWithError", "description": "stopped"}]})", &ended);
    EXPECT_EQ(log.instances, 2);
    EXPECT_EQ(log.alive, 0);
    EXPECT_EQ(log.calls.front().handler, 1);
    EXPECT_EQ(log.calls.back().handler, 2);
    EXPECT_EQ(log.calls.back().error, "stopped");
    EXPECT_EQ(ended.ends, (std::vector<std::pair<int, bool>>{{1, false}, {2, true}}));
}

TEST(ScenarioRunner, StepsWithoutBeginStillGetAPrincipalClass) {
    const CallLog log = playJson(R"({"steps": [{"step": "finish"}]})");
    EXPECT_EQ(log.instances, 1);
    EXPECT_EQ(log.names(), std::vector<std::string>{"finish"});
}

TEST(ScenarioRunner, PauseStopsDeliveryAndTheClockRunsOn) {
    HostOptions options;
    options.duration = 4;
    options.pauseAt = 1;
    options.resumeAt = 3;
    const CallLog log = play(scenarioFromOptions(options));
    EXPECT_EQ(log.names(), (std::vector<std::string>{"begin", "start", "pause", "resume", "finish"}));
    const auto app = log.buffers(RPSampleBufferTypeAudioApp);
    ASSERT_EQ(app.size(), 4u);  // 1 s before, 1 s after
    EXPECT_NEAR(seconds(app[2]) - seconds(app[0]), 3.0, 1e-6);
    size_t beforeResume = 0;
    for (const Call& call : log.calls) {
        if (call.name == "resume") break;
        beforeResume += call.name == "processSampleBuffer" && call.type == RPSampleBufferTypeVideo;
    }
    EXPECT_EQ(beforeResume, 30u);
}

TEST(ScenarioRunner, AStreamWithoutSecondsLastsAsLongAsTheAppFile) {
    test::TempDir dir;
    test::writeWav16(dir.file("short.wav"), 44100, 2, std::vector<short>(30000 * 2, 100));
    const CallLog log = playJson(R"({"steps": [{"step": "stream", "app": {"source": "file:)" + dir.file("short.wav") +
                                 R"("}}, {"step": "stream", "seconds": 0.1}]})");
    const auto app = log.buffers(RPSampleBufferTypeAudioApp);
    ASSERT_EQ(app.size(), 2u + 1u);  // the file, then 0.1 s of tones
    EXPECT_EQ(app[0]->frames, 22050);
    EXPECT_EQ(app[1]->frames, 30000 - 22050);
    const double end = seconds(app[0]) + 30000.0 / 44100;
    for (const Call* video : log.buffers(RPSampleBufferTypeVideo))
        if (video->time.seconds() < seconds(app[2])) {
            EXPECT_LT(seconds(video), end);
        }
    EXPECT_NEAR(seconds(app[2]), end, 1.0 / 44100);
}

TEST(ScenarioRunner, AFormatChangeContinuesOnTheSameClockEvenAtAFractionalRate) {
    const CallLog log = playJson(R"({"steps": [
        {"step": "stream", "seconds": 1, "mic": null, "video": null},
        {"step": "stream", "seconds": 1, "mic": null, "video": null,
         "app": {"format": "f32le", "rate": 48000, "channels": 1, "frames": 4800}},
        {"step": "stream", "seconds": 1, "mic": null, "video": null, "app": {"rate": 22050.5, "frames": 11025}},
        {"step": "buffer", "rate": 22050.5, "frames": 100}, {"step": "buffer"}]})");
    const auto app = log.buffers(RPSampleBufferTypeAudioApp);
    ASSERT_EQ(app.size(), 2u + 10u + 3u + 2u);
    EXPECT_EQ(app[2]->time.timescale, 48000);
    EXPECT_NEAR(seconds(app[2]) - seconds(app[0]), 1.0, 1e-4);
    EXPECT_TRUE(app[2]->description->mFormatFlags & kAudioFormatFlagIsFloat);
    // 22050.5 frames a second: stamped in nanoseconds, each buffer as long as its frames.
    EXPECT_EQ(app[12]->description->mSampleRate, 22050.5);
    EXPECT_EQ(app[12]->frames + app[13]->frames + app[14]->frames, 22051);  // 1 s, rounded
    EXPECT_NEAR(seconds(app[12]) - seconds(app[2]), 1.0, 1e-4);
    for (size_t i : {13, 14})
        EXPECT_NEAR(seconds(app[i]) - seconds(app[i - 1]), app[i - 1]->frames / 22050.5, 1e-9) << i;
    EXPECT_EQ(app[15]->frames, 100);  // a single buffer moves the clock on by its length
    EXPECT_NEAR(seconds(app[16]) - seconds(app[15]), 100 / 22050.5, 1.0 / 44100);
}

}  // namespace
}  // namespace host
