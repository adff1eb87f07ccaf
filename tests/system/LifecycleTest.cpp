// Calls in every wrong order, and many broadcasts in one process: nothing
// crashes, nothing recorded is lost, and no descriptor or memory is kept.

#include <dirent.h>
#include <malloc.h>

#include "BroadcastFixture.h"
#include "extension/SampleHandler.h"
#include "tests/support/TestBuffers.h"

namespace {

using testing_support::makeInt16Buffer;

size_t openDescriptorCount() {
    size_t n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++n;
        ::closedir(dir);
    }
    return n;
}

class Lifecycle : public BroadcastFixture {
protected:
    SampleHandler handler;
    std::unique_ptr<testing_support::OwnedBuffer> audio = makeInt16Buffer(std::vector<int16_t>(256, 1000), 2, 48000, true);
};

TEST_F(Lifecycle, FinishBeforeAnyStartSignalsAndHandsOverNothing) {
    handler.broadcastFinished();
    EXPECT_EQ(signalNames(), std::vector<std::string>{kEnd});
    EXPECT_EQ(logLinesStartingWith("++error "), 1u);
    EXPECT_FALSE(std::filesystem::exists(sharedRecordingPath()));
}

TEST_F(Lifecycle, BuffersBeforeStartAreRecordedAndTheStartDropsThem) {
    handler.processSampleBuffer(audio->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_NE(writer, nullptr);
    handler.broadcastStartedWithSetupInfo(nullptr);
    EXPECT_EQ(writer, nullptr);
    handler.processSampleBuffer(audio->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    EXPECT_EQ(readBack(sharedRecordingPath()).info.frames, 128);
}

TEST_F(Lifecycle, BuffersAfterFinishChangeNeitherRecording) {
    handler.broadcastStartedWithSetupInfo(nullptr);
    handler.processSampleBuffer(audio->ref(), RPSampleBufferTypeAudioApp);
    handler.broadcastFinished();
    const auto before = std::filesystem::file_size(temporaryRecordingPath());
    for (int i = 0; i < 10; ++i) handler.processSampleBuffer(audio->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_EQ(std::filesystem::file_size(temporaryRecordingPath()), before);
    EXPECT_EQ(readBack(sharedRecordingPath()).info.frames, 128);
    handler.broadcastFinished();
    EXPECT_EQ(readBack(sharedRecordingPath()).info.frames, 128);
    EXPECT_TRUE(log.empty());
}

TEST_F(Lifecycle, ManyBroadcastsKeepNoDescriptorsAndNoMemory) {
    auto broadcast = [&] {
        handler.broadcastStartedWithSetupInfo(nullptr);
        handler.processSampleBuffer(audio->ref(), RPSampleBufferTypeAudioApp);
        handler.broadcastFinished();
    };
    // Count signals without keeping them, so the test itself holds no memory.
    observers.clear();
    size_t ends = 0;
    auto counter = platform::addNotificationObserver(kEnd, [&](const platform::Notification&) { ++ends; });
    for (int i = 0; i < 100; ++i) broadcast();  // warm up caches and pools
    const size_t descriptors = openDescriptorCount();
    const size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 10000; ++i) broadcast();
    EXPECT_EQ(openDescriptorCount(), descriptors);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024) << "heap in use grew over 10,000 broadcasts";
#else
    (void)heap;  // the sanitizer's allocator is not malloc's; LeakSanitizer checks leaks at exit
#endif
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(ends, 10100u);
    EXPECT_EQ(readBack(sharedRecordingPath()).info.frames, 128);
}

}  // namespace
