// The recorder driven through the handler, on the real platform: set-up,
// appends, hand-over, signals, the log, and what the files hold afterwards.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

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

// A buffer of the usual size, so the samples go through the vectorised
// kernel; small values keep a fraction after scaling (1.7e-9 gives 3.65).
TEST_F(Recorder, FloatSourceBecomesThirtyTwoBitIntegerScaledRoundedAndSaturated) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    const std::vector<float> pattern{0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -1.5f, 0.25f, 1.7e-9f, -1.7e-9f, 2.6e-9f, 1e-9f};
    std::vector<float> samples;
    while (samples.size() < 2048) samples.insert(samples.end(), pattern.begin(), pattern.end());
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

// A temporary directory that cannot hold the recording: one "errb" per
// broadcast with the system's reason, whether or not the source's format
// makes an input (64-bit samples make none, so every buffer sets up again),
// and a finish whose "++error" says the same.
TEST_F(Recorder, WriterCreationErrorIsLoggedOncePerBroadcastWithItsReason) {
    namespace fs = std::filesystem;
    std::ofstream(temp / "file") << "not a directory";
    fs::create_directories(temp / "linked");
    fs::create_directories(temp / "victim");
    fs::create_directory_symlink(temp / "victim", temp / ("linked/broadcast-extension-" + std::to_string(::geteuid())));
    const std::pair<std::string, const char*> parents[] = {
        {temp / "file", "Not a directory"},
        {temp / "linked", "symbolic link"},
        {temp / std::string(300, 'x'), "File name too long"},
    };
    const auto int16 = makeInt16Buffer(ramp(100, 1), 2, 48000, false);
    const auto float64 = testing_support::makeAudioBuffer(
        makeLinearPCMDescription(48000, 2, 64, kAudioFormatFlagIsFloat), 10, {std::vector<unsigned char>(160)});
    for (const auto& [parent, reason] : parents) {
        for (const testing_support::OwnedBuffer* buffer : {int16.get(), float64.get()}) {
            SCOPED_TRACE(reason);
            log.clear();
            platform::setTemporaryDirectoryParent(parent);
            handler.broadcastStartedWithSetupInfo(nullptr);
            for (int i = 0; i < 5; ++i) handler.processSampleBuffer(buffer->ref(), RPSampleBufferTypeAudioApp);
            EXPECT_EQ(writer, nullptr);
            EXPECT_EQ(writerInput != nullptr, buffer == int16.get()) << "a kept input is not set up again";
            handler.broadcastFinished();
            ASSERT_EQ(log.size(), 2u);
            EXPECT_EQ(log[0].rfind("errb ", 0), 0u) << log[0];
            EXPECT_NE(log[0].find(reason), std::string::npos) << log[0];
            EXPECT_EQ(log[1].rfind("++error ", 0), 0u) << log[1];
            EXPECT_NE(log[1].find(reason), std::string::npos) << log[1];
        }
    }
    EXPECT_FALSE(fs::exists(sharedRecordingPath()));
    EXPECT_TRUE(fs::is_empty(temp / "victim"));
}

// A loop swaps the container with a link to another folder while broadcasts
// hand over: no removal or copy may follow the link.
TEST_F(Recorder, ContainerSwappedForALinkIsNeverFollowed) {
    namespace fs = std::filesystem;
    fs::create_directories(temp / "outside");
    std::ofstream(temp / "outside/NewRecording.wav") << "keep";
    ASSERT_TRUE(NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier("group.tolvix"));
    fs::create_directory_symlink(temp / "outside", containerRoot() + "/swap");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const int root = ::open(containerRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (!stop) ::renameat2(root, "group.tolvix", root, "swap", RENAME_EXCHANGE);
        ::close(root);
    });
    const auto a = makeInt16Buffer(ramp(64, 1), 1, 8000, false);
    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.processSampleBuffer(a->ref(), RPSampleBufferTypeAudioApp);
    // Every finish hands the recording over again: removal, copy, signal.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 10000 && std::chrono::steady_clock::now() < until; ++i) handler.broadcastFinished();
    stop = true;
    swapper.join();
    std::vector<std::string> outside;
    for (const auto& e : fs::directory_iterator(temp / "outside")) outside.push_back(e.path().filename());
    EXPECT_EQ(outside, std::vector<std::string>{"NewRecording.wav"});
    EXPECT_EQ(fs::file_size(temp / "outside/NewRecording.wav"), 4u);
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
