// The handler's routing: which host call reaches which operation, in what
// order, and which reach nothing.

#include <gtest/gtest.h>

#include "RecordedCalls.h"
#include "extension/SampleHandler.h"
#include "tests/support/TestBuffers.h"

namespace {

using testing_support::makeInt16Buffer;

class SampleHandlerRouting : public ::testing::Test {
protected:
    void SetUp() override { recordedCalls().clear(); }

    std::vector<std::string> operations() const {
        std::vector<std::string> names;
        for (const auto& call : recordedCalls()) names.push_back(call.operation);
        return names;
    }

    SampleHandler handler;
};

const std::string kStart = "post:com.sorvane.recordBroadcastStart";

TEST_F(SampleHandlerRouting, AppAudioReachesTheRecorderOnceWithThatVeryBuffer) {
    const auto buffer = makeInt16Buffer({1, 2, 3, 4}, 2, 48000, true);
    handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
    ASSERT_EQ(recordedCalls().size(), 1u);
    EXPECT_EQ(recordedCalls()[0].operation, "pushAudioSampleBuffer");
    EXPECT_EQ(recordedCalls()[0].buffer, buffer->ref());
}

TEST_F(SampleHandlerRouting, EveryOtherTypeValueIsDroppedWithoutATrace) {
    const auto buffer = makeInt16Buffer({1, 2}, 1, 48000, false);
    for (RPSampleBufferType type : {RPSampleBufferTypeVideo, RPSampleBufferTypeAudioMic, int64_t{0}, int64_t{4},
                                    int64_t{-1}, INT64_MIN, INT64_MAX, int64_t{2} + (int64_t{1} << 32)})
        handler.processSampleBuffer(buffer->ref(), type);
    EXPECT_TRUE(recordedCalls().empty());
}

TEST_F(SampleHandlerRouting, NullAppAudioBufferIsPassedOnForTheRecorderToRefuse) {
    handler.processSampleBuffer(nullptr, RPSampleBufferTypeAudioApp);
    ASSERT_EQ(recordedCalls().size(), 1u);
    EXPECT_EQ(recordedCalls()[0].buffer, nullptr);
}

TEST_F(SampleHandlerRouting, StartPostsTheSignalBeforeResettingWhateverTheSetupInformation) {
    const RPSetupInfo info{{"endpointURL", "rtmp://example"}};
    const RPSetupInfo empty;
    handler.broadcastStartedWithSetupInfo(&info);
    handler.broadcastStartedWithSetupInfo(&empty);
    handler.broadcastStartedWithSetupInfo(nullptr);
    EXPECT_EQ(operations(), (std::vector<std::string>{kStart, "startBroadcast", kStart, "startBroadcast", kStart,
                                                      "startBroadcast"}));
}

TEST_F(SampleHandlerRouting, PauseAndResumeChangeNothingAndAudioBetweenThemIsRouted) {
    const auto buffer = makeInt16Buffer({1, 2}, 1, 48000, false);
    handler.broadcastPaused();
    handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastResumed();
    EXPECT_EQ(operations(), std::vector<std::string>{"pushAudioSampleBuffer"});
}

TEST_F(SampleHandlerRouting, FinishEndsTheRecordingOnceEvenWithoutAudio) {
    handler.broadcastFinished();
    EXPECT_EQ(operations(), std::vector<std::string>{"endBroadcast"});
}

TEST_F(SampleHandlerRouting, FinishWithErrorEndsThroughTheErrorPathOnlyAndKeepsTheBaseOutOfIt) {
    handler.finishBroadcastWithError(NSError::errorWithDescription(NSCocoaErrorDomain, 1, "host gave up"));
    EXPECT_EQ(operations(), std::vector<std::string>{"endBroadcastError"});
    EXPECT_EQ(handler.finishError(), nullptr) << "the base class's operation must not be called";
}

TEST_F(SampleHandlerRouting, BeginReachesOnlyTheBaseClass) {
    NSExtensionContext context("test");
    handler.beginRequestWithExtensionContext(&context);
    EXPECT_TRUE(recordedCalls().empty());
    EXPECT_EQ(handler.extensionContext(), &context);
}

TEST_F(SampleHandlerRouting, CallsOutOfOrderAreRoutedAsTheyCome) {
    const auto buffer = makeInt16Buffer({1, 2}, 1, 48000, false);
    handler.broadcastFinished();
    handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.broadcastFinished();
    handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_EQ(operations(), (std::vector<std::string>{"endBroadcast", "pushAudioSampleBuffer", kStart,
                                                      "startBroadcast", kStart, "startBroadcast", "endBroadcast",
                                                      "pushAudioSampleBuffer"}));
}

}  // namespace
