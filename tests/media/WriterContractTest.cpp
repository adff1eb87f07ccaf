// The writer as the recorder uses it: creation, settings, every input layout
// read back with libsndfile, and the requests it must decline harmlessly.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "MediaTestSupport.h"

namespace {

using namespace mediatest;
namespace fs = std::filesystem;

constexpr AudioFormatFlags kSigned = kAudioFormatFlagIsSignedInteger;

// Creating a writer at `path` fails with an error; returns it.
NSErrorPtr refusedCreation(const std::string& path, AVFileType type = AVFileTypeWAVE) {
    NSErrorPtr error;
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(path), type, &error), nullptr) << path;
    EXPECT_NE(error, nullptr) << path;
    return error;
}

TEST(WriterCreation, RefusesAnExistingFileOrLinkWithoutTouchingIt) {
    TempDirectory dir;
    std::ofstream(dir / "tempfile.wav") << "keep";
    const NSErrorPtr error = refusedCreation(dir / "tempfile.wav");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileWriteFileExistsError);
    EXPECT_NE(error->localizedDescription().find("already exists"), std::string::npos);
    EXPECT_EQ(error->userInfoValue(NSFilePathErrorKey), dir / "tempfile.wav");
    EXPECT_FALSE(error->userInfoValue(NSLocalizedFailureReasonErrorKey).empty());
    EXPECT_EQ(readPrefix(dir / "tempfile.wav", 10), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    // A link at the name, even a dangling one, is never followed.
    ASSERT_EQ(::symlink((dir / "elsewhere.wav").c_str(), (dir / "link.wav").c_str()), 0);
    refusedCreation(dir / "link.wav");
    EXPECT_FALSE(fs::exists(dir / "elsewhere.wav"));
}

TEST(WriterCreation, RefusesDirectoriesThatAreNotPrivate) {
    TempDirectory dir;
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::owner_all | fs::perms::group_write);
    const NSErrorPtr shared = refusedCreation(dir / "shared/a.wav");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->userInfoValue(NSFilePathErrorKey), dir / "shared");

    fs::create_directory(dir / "real");
    fs::permissions(dir / "real", fs::perms::owner_all);
    fs::create_directory_symlink(dir / "real", dir / "linked");
    refusedCreation(dir / "linked/a.wav");

    const NSErrorPtr missing = refusedCreation(dir / "missing/a.wav");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->code(), NSFileNoSuchFileError);
    refusedCreation(dir / "a.caf", "com.apple.coreaudio-format");
    // A null error pointer is allowed.
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(dir / "missing/b.wav"), AVFileTypeWAVE, nullptr), nullptr);
    for (const char* never : {"shared/a.wav", "real/a.wav", "a.caf"}) EXPECT_FALSE(fs::exists(dir / never)) << never;
}

TEST(WriterCreation, CreatesTheFilePrivately) {
    TempDirectory dir;
    fs::permissions(dir.path(), fs::perms::owner_all);
    NSErrorPtr error;
    ASSERT_NE(AVAssetWriter::assetWriterWithURL(NSURL(dir / "t.wav"), AVFileTypeWAVE, &error), nullptr);
    EXPECT_EQ(error, nullptr);
    struct stat st{};
    ASSERT_EQ(::stat((dir / "t.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(OutputSettings, OnlyWritableSettingsMakeAnInput) {
    const auto makes = [](const NSDictionary& s, AVMediaType media = AVMediaTypeAudio) {
        return AVAssetWriterInput::assetWriterInputWithMediaType(media, s) != nullptr;
    };
    EXPECT_TRUE(makes(settingsFor(48000, 16, 2)));
    EXPECT_FALSE(makes(settingsFor(48000, 16, 2), AVMediaTypeVideo));
    const std::vector<NSDictionary> refused = {
        settingsFor(48000, 0, 2),     settingsFor(48000, 12, 2),          settingsFor(48000, 64, 2),
        settingsFor(0, 16, 2),        settingsFor(uint64_t{1} << 32, 16, 2), settingsFor(48000, 16, 0),
        settingsFor(48000, 32, 16384), settingsFor(48000, 16, uint64_t{1} << 63)};
    for (size_t i = 0; i < refused.size(); ++i) EXPECT_FALSE(makes(refused[i])) << i;
    for (std::string_view flag : {AVLinearPCMIsFloatKey, AVLinearPCMIsBigEndianKey, AVLinearPCMIsNonInterleaved}) {
        NSDictionary s = settingsFor(48000, 16, 2);
        s.setObject(NSNumber::numberWithBool(true), flag);
        EXPECT_FALSE(makes(s)) << flag;
    }
    NSDictionary aac = settingsFor(48000, 16, 2);
    aac.setObject(NSNumber::numberWithUnsignedInt(0x61616320), AVFormatIDKey);
    EXPECT_FALSE(makes(aac));
}

// One input layout: how to store a value k/128 (k in -128..127), which is
// exact in every layout, so the file must hold exactly k * 256 at 16 bits.
struct Layout {
    const char* name;
    uint32_t bits;
    uint32_t container;
    AudioFormatFlags flags;
};

void storeValue(uint8_t* at, const Layout& l, int k) {
    const bool be = (l.flags & kAudioFormatFlagIsBigEndian) != 0;
    std::vector<uint8_t> le(l.container, 0);
    if ((l.flags & kAudioFormatFlagIsFloat) != 0) {
        const float f = static_cast<float>(k / 128.0);
        const double d = k / 128.0;
        std::memcpy(le.data(), l.container == 4 ? static_cast<const void*>(&f) : &d, l.container);
    } else {
        int64_t v = static_cast<int64_t>(k) << (l.bits - 8);
        if ((l.flags & kSigned) == 0) v += int64_t{1} << (l.bits - 1);
        const bool high = l.container == 4 && l.bits == 24 && (l.flags & kAudioFormatFlagIsAlignedHigh) != 0;
        const uint64_t u = static_cast<uint64_t>(v) << (high ? 8 : 0);
        for (uint32_t b = 0; b < l.container; ++b) le[b] = static_cast<uint8_t>(u >> (8 * b));
        // Low-aligned padding carries sign extension, as some producers write it.
        if (l.container == 4 && l.bits == 24 && !high) le[3] = v < 0 ? 0xFF : 0;
    }
    for (uint32_t b = 0; b < l.container; ++b) at[b] = be ? le[l.container - 1 - b] : le[b];
}

TEST(InputLayouts, EveryLayoutRoundTrips) {
    constexpr AudioFormatFlags kBig = kAudioFormatFlagIsBigEndian, kHigh = kAudioFormatFlagIsAlignedHigh,
                               kFloat = kAudioFormatFlagIsFloat;
    const std::vector<Layout> layouts = {
        {"u8", 8, 1, 0},           {"s8", 8, 1, kSigned},
        {"s16le", 16, 2, kSigned}, {"s16be", 16, 2, kSigned | kBig},
        {"u16le", 16, 2, 0},       {"s24le", 24, 3, kSigned},
        {"s24be", 24, 3, kSigned | kBig},
        {"s24in32low", 24, 4, kSigned},
        {"s24in32high", 24, 4, kSigned | kHigh},
        {"s24in32highbe", 24, 4, kSigned | kHigh | kBig},
        {"s32le", 32, 4, kSigned}, {"s32be", 32, 4, kSigned | kBig},
        {"f32le", 32, 4, kFloat},  {"f32be", 32, 4, kFloat | kBig},
        {"f64le", 64, 8, kFloat},  {"f64be", 64, 8, kFloat | kBig},
    };
    constexpr int kFrames = 256;
    constexpr uint32_t kChannels = 3;  // a third channel catches stride mistakes
    auto valueAt = [](int frame, uint32_t channel) { return ((frame * 37 + static_cast<int>(channel) * 91) % 256) - 128; };

    TempDirectory dir;
    for (const Layout& l : layouts) {
        for (bool planar : {false, true}) {
            SCOPED_TRACE(std::string(l.name) + (planar ? " non-interleaved" : " interleaved"));
            AudioStreamBasicDescription d = makeLinearPCMDescription(
                48000, kChannels, l.bits, l.flags | (planar ? kAudioFormatFlagIsNonInterleaved : 0));
            d.mBytesPerFrame = d.mBytesPerPacket = l.container * (planar ? 1 : kChannels);
            // 5 extra bytes per plane, which must be ignored.
            std::vector<std::vector<uint8_t>> planes(planar ? kChannels : 1,
                                                     std::vector<uint8_t>(kFrames * d.mBytesPerFrame + 5, 0xEE));
            for (int f = 0; f < kFrames; ++f)
                for (uint32_t c = 0; c < kChannels; ++c)
                    storeValue(planar ? planes[c].data() + f * l.container
                                      : planes[0].data() + (f * kChannels + c) * l.container,
                               l, valueAt(f, c));
            const std::string path = dir / (std::string(l.name) + (planar ? "-p" : "-i") + ".wav");
            Recording r = startRecording(path, 48000, 16, kChannels);
            ASSERT_NE(r.writer, nullptr);
            ASSERT_TRUE(r.input->appendSampleBuffer(makeAudioBuffer(d, kFrames, planes)->ref()))
                << r.input->lastAppendError()->localizedDescription();
            ASSERT_TRUE(r.writer->finishWriting());
            EXPECT_EQ(r.writer->writtenFrameCount(), uint64_t{kFrames});
            EXPECT_EQ(r.input->clippedSampleCount(), 0u);

            const WaveReadBack sf = readWave(path);
            ASSERT_EQ(sf.frames(), uint64_t{kFrames});
            ASSERT_EQ(sf.description.channels, kChannels);
            for (int f = 0; f < kFrames; ++f)
                for (uint32_t c = 0; c < kChannels; ++c)
                    ASSERT_EQ(sf.samples[f * kChannels + c], valueAt(f, c) * 256 * 65536) << f << "," << c;
        }
    }
}

TEST(InputLayouts, EachOutputDepthIsReadBackAtItsDepth) {
    TempDirectory dir;
    for (const uint32_t bits : {8u, 16u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        const std::string path = dir / (std::to_string(bits) + "-bit.wav");
        Recording r = startRecording(path, 44100, bits, 2);
        // +1 saturates; the rest is exact at every depth.
        ASSERT_TRUE(r.input->appendSampleBuffer(
            testing_support::makeFloatBuffer({-1.0f, -0.5f, 0.0f, 0.5f, 1.0f, 1.0f}, 2, 44100)->ref()));
        ASSERT_TRUE(r.writer->finishWriting());
        EXPECT_EQ(r.input->clippedSampleCount(), 2u);
        const WaveReadBack sf = readWave(path);
        EXPECT_EQ(sf.description.sampleRate, 44100u);
        EXPECT_EQ(sf.description.bitsPerSample, bits);
        ASSERT_EQ(sf.reals.size(), 6u);
        EXPECT_EQ(std::vector<double>(sf.reals.begin(), sf.reals.begin() + 4), (std::vector<double>{-1, -0.5, 0, 0.5}));
        EXPECT_NEAR(sf.reals[4], 1.0, std::ldexp(1.0, 1 - static_cast<int>(bits)));
    }
}

TEST(DeclinedRequests, NothingCrashesAndTheFileKeepsOnlyGoodAudio) {
    TempDirectory dir;
    Recording r = startRecording(dir / "r.wav", 48000, 16, 2);
    ASSERT_NE(r.writer, nullptr);
    const auto desc = makeLinearPCMDescription(48000, 2, 16, kSigned);
    const std::vector<uint8_t> good(4 * 100, 0x10);
    auto hugeChannels = desc;
    hugeChannels.mChannelsPerFrame = 0xFFFFFFFFu;

    r.writer->addInput(nullptr);
    EXPECT_FALSE(r.input->appendSampleBuffer(nullptr));
    EXPECT_NE(r.input->lastAppendError(), nullptr);
    EXPECT_FALSE(r.input->appendSampleBuffer(testing_support::makeVideoBuffer()->ref()));
    CMSampleBuffer formatless;
    formatless.numSamples = 1;
    EXPECT_FALSE(r.input->appendSampleBuffer(&formatless));
    EXPECT_FALSE(r.input->appendSampleBuffer(makeAudioBuffer(desc, 101, {good})->ref()));
    EXPECT_NE(r.input->lastAppendError()->localizedDescription().find("fewer bytes"), std::string::npos);
    EXPECT_FALSE(r.input->appendSampleBuffer(makeAudioBuffer(desc, int64_t{1} << 62, {good})->ref()));
    EXPECT_FALSE(r.input->appendSampleBuffer(makeAudioBuffer(hugeChannels, 1, {good})->ref()));
    EXPECT_FALSE(r.input->appendSampleBuffer(
        makeAudioBuffer(makeLinearPCMDescription(1.0, 2, 16, kSigned), 100, {good})->ref()));  // rate far off

    EXPECT_TRUE(r.input->appendSampleBuffer(makeAudioBuffer(desc, 100, {good})->ref()));
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Writing);
    EXPECT_TRUE(r.writer->finishWriting());
    EXPECT_FALSE(r.writer->finishWriting());  // a second finish
    EXPECT_FALSE(r.input->appendSampleBuffer(makeAudioBuffer(desc, 100, {good})->ref()));  // after finish
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Completed);
    EXPECT_EQ(readWave(dir / "r.wav").frames(), 100u);
}

TEST(DeclinedRequests, InputsAndWritersThatAreNotPairedOrOutliveTheOther) {
    TempDirectory dir;
    auto input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, 2));
    const auto buffer = testing_support::makeInt16Buffer(std::vector<int16_t>(20), 2, 48000, false);
    EXPECT_FALSE(input->appendSampleBuffer(buffer->ref()));  // no writer
    EXPECT_NE(input->lastAppendError(), nullptr);

    auto writer = AVAssetWriter::assetWriterWithURL(NSURL(dir / "x.wav"), AVFileTypeWAVE, nullptr);
    ASSERT_NE(writer, nullptr);
    writer->addInput(nullptr);
    EXPECT_FALSE(writer->startWriting());  // no input
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::Failed);
    EXPECT_NE(writer->error(), nullptr);
    EXPECT_FALSE(writer->finishWriting());

    auto unstarted = AVAssetWriter::assetWriterWithURL(NSURL(dir / "y.wav"), AVFileTypeWAVE, nullptr);
    unstarted->addInput(input);
    EXPECT_FALSE(input->appendSampleBuffer(buffer->ref()));  // before startWriting
    auto another = AVAssetWriter::assetWriterWithURL(NSURL(dir / "z.wav"), AVFileTypeWAVE, nullptr);
    EXPECT_FALSE(another->canAddInput(input));  // the input belongs to one writer only

    Recording r = startRecording(dir / "o.wav", 48000, 16, 2);
    r.writer.reset();
    EXPECT_FALSE(r.input->appendSampleBuffer(buffer->ref()));  // its writer is gone
}

TEST(DeclinedRequests, ReleasingInTheRecordersOrderWithoutFinishing) {
    TempDirectory dir;
    Recording r = startRecording(dir / "abandoned.wav", 48000, 16, 2);
    ASSERT_TRUE(r.append16(std::vector<int16_t>(2 * 96000, 300), 2));  // two seconds: one checkpoint at least
    r.input.reset();
    r.writer.reset();
    const WaveReadBack sf = readWave(dir / "abandoned.wav");
    ASSERT_EQ(sf.status, WaveStatus::Complete) << sf.problem;
    EXPECT_GE(sf.frames(), 48000u);
    EXPECT_LE(sf.frames(), 96000u);
}

}  // namespace
