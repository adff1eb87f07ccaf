// The recorder: the output settings it builds and, behind the handler on the real platform,
// what the recording holds, set-up problems and a hand-over no swapped-in link redirects.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "BroadcastFixture.h"
#include "platform/media/AVAudioSettings.h"
#include "recorder/OutputSettings.h"

namespace {

namespace fs = std::filesystem;
using testing_support::makeInt16Buffer;

// Integer, little-endian, interleaved PCM at the source's depth and channels, and its rate
// truncated toward zero (0, which no input accepts, when it cannot be truncated safely).
struct Source {
    double rate;
    uint32_t channels, bits;
    AudioFormatFlags flags;
    uint64_t settingsRate;
};

class OutputSettings : public ::testing::TestWithParam<Source> {};

TEST_P(OutputSettings, SevenEntriesInOrderWithTheirNumberTypes) {
    const auto [rate, channels, bits, flags, settingsRate] = GetParam();
    const std::vector<NSDictionary::Entry> expected{
        {std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(0x6C70636D)},
        {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(settingsRate)},
        {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(bits)},
        {std::string(AVLinearPCMIsNonInterleaved), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsFloatKey), NSNumber::numberWithBool(false)},
        {std::string(AVLinearPCMIsBigEndianKey), NSNumber::numberWithBool(false)},
        {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(channels)},
    };
    EXPECT_EQ(outputSettingsForStreamDescription(makeLinearPCMDescription(rate, channels, bits, flags)).entries(),
              expected);
}

constexpr AudioFormatFlags kInt = kAudioFormatFlagIsSignedInteger, kFloatBigPlanar = kAudioFormatFlagIsFloat |
                                                                                     kAudioFormatFlagIsBigEndian |
                                                                                     kAudioFormatFlagIsNonInterleaved;

INSTANTIATE_TEST_SUITE_P(Sources, OutputSettings,
                         ::testing::Values(Source{48000, 2, 16, kInt, 48000}, Source{44100, 1, 24, kInt, 44100},
                                           Source{22050.5, 2, 8, kInt, 22050}, Source{22050.999, 2, 16, kInt, 22050},
                                           Source{1, 2, 16, kInt, 1}, Source{44100, 2, 32, kFloatBigPlanar, 44100},
                                           Source{NAN, 2, 16, kInt, 0}, Source{INFINITY, 2, 16, kInt, 0},
                                           Source{-INFINITY, 2, 16, kInt, 0}, Source{-44100, 2, 16, kInt, 0},
                                           Source{0.99, 2, 16, kInt, 0}, Source{1e19, 2, 16, kInt, 0},
                                           Source{1e300, 2, 16, kInt, 0}));

class Recorder : public BroadcastFixture {};

// A buffer of the usual size, so the samples go through the vectorised
// kernel; small values keep a fraction after scaling (1.7e-9 gives 3.65).
TEST_F(Recorder, FloatSourceBecomesThirtyTwoBitIntegerScaledRoundedAndSaturated) {
    const std::vector<float> pattern{0.0f,  0.5f,  -0.5f,   1.0f,     -1.0f,   1.5f,
                                     -1.5f, 0.25f, 1.7e-9f, -1.7e-9f, 2.6e-9f, 1e-9f};
    const std::vector<int32_t> expected{0,         1 << 30, -(1 << 30), INT32_MAX, INT32_MIN, INT32_MAX,
                                        INT32_MIN, 1 << 29, 4,          -4,        6,         2};
    std::vector<float> samples;
    while (samples.size() < 2048) samples.insert(samples.end(), pattern.begin(), pattern.end());
    handler.broadcastStartedWithSetupInfo(nullptr);
    push(*testing_support::makeFloatBuffer(samples, 2, 44100));
    handler.broadcastFinished();

    const auto r = testing_support::readRecording(shared());
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_32);
    EXPECT_EQ(r.info.samplerate, 44100);
    ASSERT_EQ(r.samples.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(r.samples[i], expected[i % pattern.size()]) << i;
}

// A temporary directory that cannot hold the recording: one "errb" per broadcast with the
// system's reason, even when every buffer sets up again (64-bit samples make no input either);
// the finish's "++error" says the same.
TEST_F(Recorder, WriterCreationErrorIsLoggedOncePerBroadcastWithItsReason) {
    std::ofstream(temp / "file") << "not a directory";
    for (const char* dir : {"linked", "victim"}) fs::create_directories(temp / dir);
    fs::create_directory_symlink(temp / "victim", temp / ("linked/broadcast-extension-" + std::to_string(::geteuid())));
    const auto float64 = testing_support::makeAudioBuffer(
        makeLinearPCMDescription(48000, 2, 64, kAudioFormatFlagIsFloat), 10, {std::vector<unsigned char>(160)});
    for (const auto& [parent, reason] :
         {std::pair{temp / "file", "Not a directory"}, std::pair{temp / "linked", "symbolic link"},
          std::pair{temp / std::string(300, 'x'), "File name too long"}}) {
        log.clear();
        platform::setTemporaryDirectoryParent(parent);
        handler.broadcastStartedWithSetupInfo(nullptr);
        push(*float64, 5);
        handler.broadcastFinished();
        ASSERT_EQ(log.size(), 2u) << reason;
        EXPECT_TRUE(log[0].starts_with("errb ") && log[0].find(reason) != std::string::npos) << log[0];
        EXPECT_TRUE(log[1].starts_with("++error ") && log[1].find(reason) != std::string::npos) << log[1];
    }
    EXPECT_FALSE(fs::exists(shared()));
    EXPECT_TRUE(fs::is_empty(temp / "victim"));
}

// Buffers that cannot set up a recording (rates: see OutputSettings): no input, one "errb"
// however many arrive; a good buffer later still records. "Null" and "NoAudioFormat" spoil the
// buffer itself, the others its format.
struct BadBuffer {
    std::string_view name;
    double rate;
    uint32_t channels, bits;
};

class BuffersThatCannotSetUp : public BroadcastFixture, public ::testing::WithParamInterface<BadBuffer> {};

TEST_P(BuffersThatCannotSetUp, MakeNoInputAndOneLogLine) {
    const auto [name, rate, channels, bits] = GetParam();
    auto bad = makeInt16Buffer(std::vector<int16_t>(20, 1), 2, 48000, false);
    auto& d = *bad->buffer.formatDescription->streamDescription;
    d.mSampleRate = rate, d.mChannelsPerFrame = channels, d.mBitsPerChannel = bits;
    if (name == "NoAudioFormat") bad->buffer.formatDescription = {CMMediaType::Video, std::nullopt};
    handler.broadcastStartedWithSetupInfo(nullptr);
    for (int i = 0; i < 3; ++i)
        handler.processSampleBuffer(name == "Null" ? nullptr : bad->ref(), RPSampleBufferTypeAudioApp);
    EXPECT_EQ(writerInput, nullptr);
    push(*makeInt16Buffer(std::vector<int16_t>(200, 1), 2, 48000, false));
    handler.broadcastFinished();
    EXPECT_EQ(testing_support::readRecording(shared()).info.frames, 100);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("errb ")) << log[0];
}

INSTANTIATE_TEST_SUITE_P(Formats, BuffersThatCannotSetUp,
                         ::testing::Values(BadBuffer{"Null", 48000, 2, 16}, BadBuffer{"NoAudioFormat", 48000, 2, 16},
                                           BadBuffer{"RateNaN", NAN, 2, 16}, BadBuffer{"NoChannels", 48000, 0, 16},
                                           BadBuffer{"AbsurdChannels", 48000, 0xFFFFFFFF, 16},
                                           BadBuffer{"NoBits", 48000, 2, 0}, BadBuffer{"TwelveBits", 48000, 2, 12},
                                           BadBuffer{"SixtyFourBits", 48000, 2, 64},
                                           BadBuffer{"AbsurdBits", 48000, 2, 4096}),
                         [](const auto& p) { return std::string(p.param.name); });

// A loop swaps the container with a link to another folder while the recording is handed over
// again and again (removal, copy, signal): neither may follow the link.
TEST_F(Recorder, ContainerSwappedForALinkIsNeverFollowed) {
    fs::create_directories(temp / "outside");
    std::ofstream(temp / "outside/NewRecording.wav") << "keep";
    ASSERT_TRUE(NSFileManager::defaultManager().containerURLForSecurityApplicationGroupIdentifier("group.tolvix"));
    fs::create_directory_symlink(temp / "outside", temp / "containers/swap");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const int root = ::open((temp / "containers").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (!stop) ::renameat2(root, "group.tolvix", root, "swap", RENAME_EXCHANGE);
        ::close(root);
    });
    handler.broadcastStartedWithSetupInfo(nullptr);
    push(*makeInt16Buffer(std::vector<int16_t>(64, 1), 1, 8000, false));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 10000 && std::chrono::steady_clock::now() < until; ++i) handler.broadcastFinished();
    stop = true;
    swapper.join();
    EXPECT_EQ(std::distance(fs::directory_iterator(temp / "outside"), {}), 1);
    EXPECT_EQ(fs::file_size(temp / "outside/NewRecording.wav"), 4u);
}

}  // namespace
