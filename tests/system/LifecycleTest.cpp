// The host's calls in every order: the right recording or none, never a stale one; and many
// broadcasts in one process keep nothing.

#include <malloc.h>

#include <algorithm>
#include <map>

#include "BroadcastFixture.h"

namespace {

using testing_support::makeInt16Buffer;

// The host's calls, one letter each: S start, P pause, R resume, F finish,
// E finish with an error; A an app-audio buffer of 128 frames, and the same
// buffer with every other type value: V video, M microphone, 0, 4, - (-1),
// < (INT64_MIN), > (INT64_MAX), X (app audio's value plus 2^32); U: the
// container becomes unavailable (its group no longer entitled), so the copy
// fails. Then the signals as BroadcastFixture records them, and the frames of
// the shared recording at the end (0: none).
struct Calls {
    const char *name, *calls, *signals;
    long frames;
};

class Lifecycle : public BroadcastFixture, public ::testing::WithParamInterface<Calls> {};

TEST_P(Lifecycle, HandsOverTheRightRecordingOrNone) {
    const auto audio = makeInt16Buffer(std::vector<int16_t>(256, 1000), 2, 48000, true);
    const std::map<char, RPSampleBufferType> types{{'A', RPSampleBufferTypeAudioApp},
                                                   {'V', RPSampleBufferTypeVideo},
                                                   {'M', RPSampleBufferTypeAudioMic},
                                                   {'0', 0},
                                                   {'4', 4},
                                                   {'-', -1},
                                                   {'<', INT64_MIN},
                                                   {'>', INT64_MAX},
                                                   {'X', RPSampleBufferTypeAudioApp + (int64_t{1} << 32)}};
    for (const char c : std::string_view(GetParam().calls)) {
        if (types.contains(c)) handler.processSampleBuffer(audio->ref(), types.at(c));
        if (c == 'S') handler.broadcastStartedWithSetupInfo(nullptr);
        if (c == 'P') handler.broadcastPaused();
        if (c == 'R') handler.broadcastResumed();
        if (c == 'F') handler.broadcastFinished();
        if (c == 'E') handler.finishBroadcastWithError(NSError::errorWithDescription(NSCocoaErrorDomain, 1, "x"));
        if (c == 'U') platform::setEntitledApplicationGroups({});
    }
    EXPECT_EQ(signals, GetParam().signals);
    // Every end without a recording, and nothing else, is logged.
    EXPECT_EQ(log.size(), static_cast<size_t>(std::count(signals.begin(), signals.end(), 'e')));
    for (const auto& line : log) EXPECT_TRUE(line.starts_with("++error Error Domain=")) << line;
    const auto recording = testing_support::readRecording(shared());
    EXPECT_EQ(recording.opened ? recording.info.frames : 0, GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Calls, Lifecycle,
                         ::testing::Values(Calls{"AudioBetweenPauseAndResumeIsRecorded", "SPARAF", "sE", 256},
                                           Calls{"EveryOtherTypeValueIsDroppedWithoutATrace", "SVM04-<>XF", "se", 0},
                                           Calls{"FinishBeforeAnyStart", "F", "e", 0},
                                           Calls{"BuffersBeforeTheStartAreDroppedByIt", "AASAF", "SE", 128},
                                           Calls{"FinishWithoutAudioHandsOverNothingStale", "SAFSF", "sESe", 0},
                                           Calls{"BuffersAfterTheFinishChangeNothing", "SAAFAF", "sEE", 256},
                                           Calls{"TwoBroadcastsEachHandOverTheirOwn", "SAFSAAF", "sESE", 256},
                                           Calls{"StartWithoutFinishStartsAFreshFile", "SAAASAF", "sSE", 128},
                                           Calls{"TwoStartsPostTwoSignals", "SSAF", "ssE", 128},
                                           Calls{"FinishWithErrorKeepsWhatWasRecorded", "SAAE", "sE", 256},
                                           Calls{"AFailedCopyStillPostsTheEndSignal", "SAUF", "se", 0}),
                         [](const auto& p) { return std::string(p.param.name); });

using ManyBroadcasts = BroadcastFixture;

TEST_F(ManyBroadcasts, KeepNoDescriptorsAndNoMemory) {
    const auto audio = makeInt16Buffer(std::vector<int16_t>(256, 1000), 2, 48000, true);
    const auto broadcast = [&] {
        handler.broadcastStartedWithSetupInfo(nullptr), push(*audio), handler.broadcastFinished();
    };
    observers.clear();                          // the recorded signals would grow
    for (int i = 0; i < 100; ++i) broadcast();  // warm up caches and pools
    const auto openDescriptors = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto descriptors = openDescriptors();
    const size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 10000; ++i) broadcast();
    EXPECT_EQ(openDescriptors(), descriptors);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024) << "heap in use grew over 10,000 broadcasts";
#else
    (void)heap;  // the sanitizer's allocator is not malloc's; LeakSanitizer checks leaks at exit
#endif
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(testing_support::readRecording(shared()).info.frames, 128);
}

}  // namespace
