// The recorder driven through the handler, on the real platform: set-up,
// appends, hand-over, signals, the log, and what the files hold afterwards.

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "BroadcastFixture.h"
#include "extension/SampleHandler.h"
#include "tests/support/TestBuffers.h"

namespace {

using testing_support::makeFloatBuffer;
using testing_support::makeInt16Buffer;
using testing_support::makeVideoBuffer;

std::vector<int16_t> ramp(size_t count, int16_t start) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<int16_t>(start + static_cast<int>(i) * 37);
    return v;
}

class Recorder : public BroadcastFixture {
protected:
    SampleHandler handler;
};

TEST_F(Recorder, FirstAppBufferSetsUpAndEveryBufferIsAppendedInOrder) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto first = makeInt16Buffer(ramp(2000, -500), 2, 48000, true);
    handler.processSampleBuffer(first->ref(), RPSampleBufferTypeAudioApp);
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(writerInput, nullptr);
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::Writing);
    const AVAssetWriter* firstWriter = writer.get();

    const auto video = makeVideoBuffer();
    const auto mic = makeInt16Buffer(ramp(1024, 9), 1, 48000, false);
    const auto second = makeInt16Buffer(ramp(2000, 700), 2, 48000, true);
    handler.processSampleBuffer(video->ref(), RPSampleBufferTypeVideo);
    handler.processSampleBuffer(mic->ref(), RPSampleBufferTypeAudioMic);
    handler.processSampleBuffer(second->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_EQ(writer.get(), firstWriter) << "later buffers must not set up again";

    handler.broadcastFinished();
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::Completed);
    const ReadBack r = readBack(sharedRecordingPath());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.samplerate, 48000);
    EXPECT_EQ(r.info.channels, 2);
    EXPECT_EQ(r.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<int32_t> expected;
    for (const auto& part : {ramp(2000, -500), ramp(2000, 700)})
        for (int16_t s : part) expected.push_back(int32_t{s} << 16);  // libsndfile scales to int32
    EXPECT_EQ(r.samples, expected);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd}));
    EXPECT_EQ(sharedRecordingAtSignal, (std::vector<bool>{false, true}))
        << "no recording before the start signal; the end signal comes after the copy";
    EXPECT_TRUE(std::filesystem::exists(temporaryRecordingPath())) << "the temporary recording stays";
}

TEST_F(Recorder, FloatSourceBecomesThirtyTwoBitIntegerScaledRoundedAndSaturated) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const std::vector<float> samples{0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -1.5f, 0.25f, 1e-9f, -1e-9f};
    const auto buffer = makeFloatBuffer(samples, 2, 44100);
    handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();

    const ReadBack r = readBack(sharedRecordingPath());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_32);
    std::vector<int32_t> expected;
    for (float f : samples) {
        const double scaled = std::nearbyint(static_cast<double>(f) * 2147483648.0);
        expected.push_back(static_cast<int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0)));
    }
    EXPECT_EQ(r.samples, expected);
}

TEST_F(Recorder, TwoBroadcastsInOneProcessEachHandOverTheirOwnRecording) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(200, 1), 1, 22050, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    const std::weak_ptr<AVAssetWriter> firstWriter = writer;

    handler.broadcastStartedWithSetupInfo(nullptr);
    EXPECT_TRUE(firstWriter.expired()) << "the second start releases the first writer";
    EXPECT_EQ(writerInput, nullptr);
    const auto b = makeInt16Buffer(ramp(300, 5), 1, 16000, false);
    handler.processSampleBuffer(b->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();

    const ReadBack r = readBack(sharedRecordingPath());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.samplerate, 16000);
    EXPECT_EQ(r.info.frames, 300);
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd, kStart, kEnd}));
    EXPECT_TRUE(log.empty());
}

TEST_F(Recorder, StartWithoutFinishAbandonsTheWriterAndTheNextSetUpStartsAFreshFile) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(5000, 1), 2, 48000, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastStartedWithSetupInfo(nullptr);
    EXPECT_EQ(writer, nullptr);
    const auto b = makeInt16Buffer(ramp(100, 3), 1, 8000, false);
    handler.processSampleBuffer(b->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    const ReadBack r = readBack(sharedRecordingPath());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.frames, 100);
    EXPECT_EQ(r.info.channels, 1);
}

TEST_F(Recorder, FinishWithoutAudioRemovesTheOldRecordingAndHandsOverNothingStale) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(400, 1), 1, 48000, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    ASSERT_TRUE(std::filesystem::exists(sharedRecordingPath()));
    signals.clear();
    sharedRecordingAtSignal.clear();

    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.broadcastFinished();
    EXPECT_FALSE(std::filesystem::exists(sharedRecordingPath()));
    EXPECT_TRUE(std::filesystem::exists(temporaryRecordingPath())) << "the earlier temporary file is left alone";
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("++error Error Domain=", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("No recording was made"), std::string::npos) << log[0];
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd}));
}

TEST_F(Recorder, SecondFinishHandsOverTheSameRecordingAgain) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(400, 1), 2, 48000, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    const ReadBack first = readBack(sharedRecordingPath());
    handler.broadcastFinished();
    const ReadBack second = readBack(sharedRecordingPath());
    ASSERT_TRUE(second.opened);
    EXPECT_EQ(second.samples, first.samples);
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd, kEnd}));
    EXPECT_TRUE(log.empty());
}

TEST_F(Recorder, FinishWithErrorKeepsWhatWasRecorded) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(400, 1), 2, 48000, true);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.finishBroadcastWithError(NSError::errorWithDescription(NSCocoaErrorDomain, 1, "stopped"));
    const ReadBack r = readBack(sharedRecordingPath());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.frames, 200);
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd}));
}

TEST_F(Recorder, WriterCreationErrorIsLoggedOnceHoweverManyBuffersFollow) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    // A non-empty directory at the temporary name survives the removal and
    // makes the writer's creation fail.
    std::filesystem::create_directories(temporaryRecordingPath() + "/blocker");
    const auto a = makeInt16Buffer(ramp(100, 1), 2, 48000, false);
    for (int i = 0; i < 5; ++i) handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_EQ(writer, nullptr);
    EXPECT_NE(writerInput, nullptr) << "the input is kept, so set-up is not tried again";
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("errb ", 0), 0u) << log[0];

    handler.broadcastFinished();
    EXPECT_EQ(logLinesStartingWith("++error "), 1u);
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd}));
    EXPECT_FALSE(std::filesystem::exists(sharedRecordingPath()));
}

TEST_F(Recorder, UnavailableContainerFailsTheCopyOnceAndStillSignalsTheEnd) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto a = makeInt16Buffer(ramp(100, 1), 2, 48000, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    std::filesystem::create_directories(containerRoot());
    std::ofstream(containerRoot() + "/group.tolvix") << "not a directory";
    handler.broadcastFinished();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("++error ", 0), 0u) << log[0];
    EXPECT_EQ(signalNames(), (std::vector<std::string>{kStart, kEnd}));
    EXPECT_EQ(std::ifstream(containerRoot() + "/group.tolvix").rdbuf()->in_avail() > 0, true)
        << "the file in the container's place is left alone";
}

TEST_F(Recorder, BuffersWithoutAFormatNeitherSetUpNorFloodTheLog) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const auto video = makeVideoBuffer();
    for (int i = 0; i < 100; ++i) {
        handler.processSampleBuffer(nullptr, RPSampleBufferTypeAudioApp);
        handler.processSampleBuffer(video->ref(), RPSampleBufferTypeAudioApp);
    }
    EXPECT_EQ(writer, nullptr);
    EXPECT_EQ(writerInput, nullptr);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("errb ", 0), 0u);

    // A good buffer afterwards still records.
    const auto a = makeInt16Buffer(ramp(100, 1), 1, 48000, false);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    handler.processSampleBuffer(nullptr, RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    EXPECT_EQ(readBack(sharedRecordingPath()).info.frames, 100);
}

TEST_F(Recorder, StreamDescriptionsThatCannotMakeSettingsYieldNoInputAndNoCrash) {
    for (double rate : {std::nan(""), std::numeric_limits<double>::infinity(), -48000.0, 0.5, 1e300}) {
        SCOPED_TRACE(rate);
        log.clear();
        handler.broadcastStartedWithSetupInfo(nullptr);
        auto bad = makeInt16Buffer(ramp(10, 1), 1, 48000, false);
        bad->buffer.formatDescription->streamDescription->mSampleRate = rate;
        for (int i = 0; i < 3; ++i) handler.processSampleBuffer(bad->ref(), RPSampleBufferTypeAudioApp);
        EXPECT_EQ(writerInput, nullptr);
        EXPECT_EQ(logLinesStartingWith("errb "), 1u);
        handler.broadcastFinished();
        EXPECT_FALSE(std::filesystem::exists(sharedRecordingPath()));
        EXPECT_EQ(logLinesStartingWith("errb "), 1u) << "the finish adds no second set-up line";
        EXPECT_EQ(logLinesStartingWith("++error "), 1u);
    }
    for (auto [channels, bits] : {std::pair{0u, 16u}, std::pair{2u, 0u}, std::pair{2u, 12u}, std::pair{2u, 4096u},
                                  std::pair{0xFFFFFFFFu, 16u}}) {
        handler.broadcastStartedWithSetupInfo(nullptr);
        auto bad = makeInt16Buffer(ramp(10, 1), 1, 48000, false);
        bad->buffer.formatDescription->streamDescription->mChannelsPerFrame = channels;
        bad->buffer.formatDescription->streamDescription->mBitsPerChannel = bits;
        handler.processSampleBuffer(bad->ref(), RPSampleBufferTypeAudioApp);
        EXPECT_EQ(writerInput, nullptr) << channels << " channels, " << bits << " bits";
    }
}

TEST_F(Recorder, LogHoldsOnlyTheTwoMessageShapes) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.processSampleBuffer(nullptr, RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    handler.broadcastFinished();
    ASSERT_FALSE(log.empty());
    for (const auto& line : log)
        EXPECT_TRUE(line.rfind("errb ", 0) == 0 || line.rfind("++error ", 0) == 0) << line;
}

}  // namespace
