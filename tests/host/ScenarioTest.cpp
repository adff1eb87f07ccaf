// Scenarios: how their mistakes are reported, and their calls on the principal class in order, on one clock.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "host/HostError.h"
#include "host/scenario/HostClock.h"
#include "host/scenario/ScenarioParser.h"
#include "host/scenario/ScenarioRunner.h"

namespace host {
namespace {

TEST(ScenarioParser, MistakesNameTheFileAndTheLineAndColumnOrTheStep) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\n  \"steps\": [\n    {\"step\": \"begin\"},,\n  ]\n}", "test.json:3:23: malformed"},
        {R"({"steps": [{"step": "stream", "seconds": 1e400}]})", "test.json: malformed scenario: number overflow"},
        {"[]", "test.json: a scenario is an object with a \"steps\" array"},
        {R"({"steps": [{"step": "begin"}, {"step": "jump"}]})", "test.json: step 2: unknown step \"jump\""},
        {R"({"steps": [{"step": "stream", "app": {"volume": 3}}]})", "test.json: step 1 (stream) app: unknown field"},
        {R"({"steps": [{"step": "stream", "seconds": -1}]})", "test.json: step 1 (stream): \"seconds\" must be"},
        {R"({"steps": [{"step": "stream"}]})", "test.json: step 1 (stream): \"seconds\" is needed"},
        {R"({"steps": [{"step": "stream", "app": {"format": "aac"}}]})",
         "test.json: step 1 (stream) app: unknown sample format \"aac\" (linear PCM only"},
        {R"({"steps": [{"step": "stream", "mic": {"source": "radio"}}]})",
         "test.json: step 1 (stream) mic: bad source \"radio\""},
        {R"({"steps": [{"step": "buffer", "source": "none"}]})", "test.json: step 1 (buffer): a buffer needs a source"},
        {R"({"steps": [{"step": "start", "setupInfo": {"a": 1}}]})", "test.json: step 1 (start): setupInfo \"a\""},
    };
    for (const auto& [text, says] : cases) {
        try {
            parseScenario(text, "test.json");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const HostError& error) {
            EXPECT_EQ(error.code(), ExitCode::BadScenario);
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    }
}

// A principal class that writes down each call the host makes on it: "<instance> <call>"
// (with the type for buffers), and for buffers their time since the clock's start, frames and rate.
using Call = std::pair<std::string, std::string>;
class Fake final : public RPBroadcastSampleHandler {
public:
    Fake(std::vector<Call>& calls, int id) : calls_(calls), id_(std::to_string(id) + " ") {}
    void beginRequestWithExtensionContext(NSExtensionContext*) override { add("begin"); }
    void broadcastStartedWithSetupInfo(const RPSetupInfo* info) override {
        std::string said = info == nullptr ? "none" : "{";
        for (const auto& [key, value] : info ? *info : RPSetupInfo{}) said += key + "=" + value;
        add("start " + said + (info == nullptr ? "" : "}"));
    }
    void broadcastPaused() override { add("pause"); }
    void broadcastResumed() override { add("resume"); }
    void broadcastFinished() override { add("finish"); }
    void finishBroadcastWithError(const NSErrorPtr& error) override { add("error " + error->localizedDescription()); }
    void processSampleBuffer(CMSampleBufferRef buffer, RPSampleBufferType type) override {
        const CMFormatDescriptionRef format = buffer ? CMSampleBufferGetFormatDescription(buffer) : nullptr;
        const auto* audio = CMAudioFormatDescriptionGetStreamBasicDescription(format);
        const bool video = format != nullptr && format->mediaType == CMMediaType::Video;
        add(std::string(!buffer ? "null " : video ? "video " : audio ? "audio " : "noFormat ") + std::to_string(type));
        if (buffer == nullptr) return;
        char timing[64];
        std::snprintf(timing, sizeof timing, "%.6f %lld %g",
                      CMSampleBufferGetPresentationTimeStamp(buffer).seconds() - 3600.5,
                      static_cast<long long>(CMSampleBufferGetNumSamples(buffer)), audio ? audio->mSampleRate : 0);
        calls_.back().second = timing;
    }

private:
    void add(const std::string& what) { calls_.push_back({id_ + what, ""}); }
    std::vector<Call>& calls_;
    std::string id_;
};

std::vector<Call> play(const std::string& json) {
    std::vector<Call> calls;
    RunObserver observer;
    PreparedScenario prepared = prepareScenario(parseScenario(json, "test"));
    const auto make = [&calls, n = 0]() mutable { return std::make_unique<Fake>(calls, ++n); };
    ScenarioRunner(make, observer, {false, kHostClockStartNanos}).run(prepared);
    return calls;
}

TEST(ScenarioRunner, EveryStepIsItsCallInOrderAndEachBeginMakesANewPrincipalClass) {
    std::vector<std::string> seen;
    for (const Call& call : play(R"({"steps": [{"step": "start", "setupInfo": {"title": "T"}},
        {"step": "buffer", "type": 0}, {"step": "buffer", "type": -1}, {"step": "buffer", "type": 2, "kind": "null"},
        {"step": "buffer", "type": 2, "kind": "noFormat", "frames": 8}, {"step": "buffer", "type": 1},
        {"step": "pause", "seconds": 1}, {"step": "resume"}, {"step": "finish"}, {"step": "finish"},
        {"step": "begin"}, {"step": "start", "setupInfo": {}}, {"step": "finishWithError", "description": "stopped"},
        {"step": "begin"}, {"step": "start"}, {"step": "finish"}]})"))
        seen.push_back(call.first);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"1 start {title=T}", "1 audio 0", "1 audio -1", "1 null 2", "1 noFormat 2",
                                        "1 video 1", "1 pause", "1 resume", "1 finish", "1 finish", "2 begin",
                                        "2 start {}", "2 error stopped", "3 begin", "3 start none", "3 finish"}));
}

// The default streams interleave in time on one clock that starts at 3600.5 s and runs on through a pause,
// a format change and a fractional rate, each buffer as long as its frames.
TEST(ScenarioRunner, StreamsInterleaveOnOneClockAcrossAPauseAndAFractionalRate) {
    std::map<std::string, std::vector<std::string>> buffers;  // by call
    std::string last = "0";
    for (const Call& call : play(R"({"steps": [{"step": "stream", "seconds": 1}, {"step": "pause", "seconds": 2},
        {"step": "resume"}, {"step": "stream", "seconds": 1, "mic": null, "video": null,
         "app": {"format": "f32le", "rate": 22050.5, "channels": 1, "frames": 11025}},
        {"step": "buffer", "rate": 22050.5, "frames": 100}, {"step": "buffer", "rate": 22050.5}]})")) {
        if (call.second.empty()) continue;  // not a buffer
        EXPECT_GE(std::stod(call.second), std::stod(last)) << call.second;
        last = call.second;
        buffers[call.first].push_back(call.second);
    }
    EXPECT_EQ(buffers["1 audio 2"],
              (std::vector<std::string>{"0.000000 22050 44100", "0.500000 22050 44100", "3.000000 11025 22050.5",
                                        "3.499989 11025 22050.5", "3.999977 1 22050.5", "4.000000 100 22050.5",
                                        "4.004535 22050 22050.5"}));
    EXPECT_EQ(buffers["1 audio 3"].back(), "0.981333 896 48000");  // the 47th, 48,000 frames in all
    EXPECT_EQ(buffers["1 video 1"].back(), "0.966667 1 0");        // the 30th
}

}  // namespace
}  // namespace host
