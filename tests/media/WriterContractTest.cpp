// The writer as the recorder uses it: creation, settings, every input layout
// read back with libsndfile, and the requests it must decline harmlessly.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "MediaTestSupport.h"

namespace {

using namespace mediatest;

constexpr AudioFormatFlags kSigned = kAudioFormatFlagIsSignedInteger;

TEST(WriterCreation, RefusesAnExistingFileOrLinkWithoutTouchingIt) {
    TempDir dir;
    const std::string path = dir.file("tempfile.wav");
    { std::ofstream(path) << "keep"; }
    NSErrorPtr error;
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(path), AVFileTypeWAVE, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileWriteFileExistsError);
    EXPECT_NE(error->localizedDescription().find("already exists"), std::string::npos);
    EXPECT_EQ(error->userInfoValue(NSFilePathErrorKey), path);
    EXPECT_FALSE(error->userInfoValue(NSLocalizedFailureReasonErrorKey).empty());
    EXPECT_EQ(readBytes(path), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    // A link at the name, even a dangling one, is never followed.
    const std::string target = dir.file("elsewhere.wav");
    const std::string link = dir.file("link.wav");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    error.reset();
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(link), AVFileTypeWAVE, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(WriterCreation, RefusesDirectoriesThatAreNotPrivate) {
    TempDir dir;
    NSErrorPtr error;

    const std::string shared = dir.file("shared");
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::owner_all | std::filesystem::perms::group_write);
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(shared + "/a.wav"), AVFileTypeWAVE, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->userInfoValue(NSFilePathErrorKey), shared);
    EXPECT_FALSE(std::filesystem::exists(shared + "/a.wav"));

    const std::string real = dir.file("real");
    std::filesystem::create_directory(real);
    std::filesystem::permissions(real, std::filesystem::perms::owner_all);
    const std::string linked = dir.file("linked");
    std::filesystem::create_directory_symlink(real, linked);
    error.reset();
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(linked + "/a.wav"), AVFileTypeWAVE, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(std::filesystem::exists(real + "/a.wav"));

    error.reset();
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(dir.file("missing/a.wav")), AVFileTypeWAVE, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileNoSuchFileError);

    error.reset();
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(dir.file("a.caf")), "com.apple.coreaudio-format", &error),
              nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.caf")));

    // A null error pointer is allowed.
    EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(dir.file("missing/b.wav")), AVFileTypeWAVE, nullptr), nullptr);
}

TEST(WriterCreation, CreatesTheFilePrivately) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    NSErrorPtr error;
    auto writer = AVAssetWriter::assetWriterWithURL(NSURL(dir.file("t.wav")), AVFileTypeWAVE, &error);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(error, nullptr);
    struct stat st{};
    ASSERT_EQ(::stat(dir.file("t.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(OutputSettings, OnlyWritableSettingsMakeAnInput) {
    EXPECT_NE(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, 2)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeVideo, settingsFor(48000, 16, 2)), nullptr);
    for (uint32_t bits : {0u, 12u, 64u})
        EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, bits, 2)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(0, 16, 2)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(uint64_t{1} << 32, 16, 2)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, 0)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 32, 16384)), nullptr);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, uint64_t{1} << 63)), nullptr);
    for (std::string_view flag : {AVLinearPCMIsFloatKey, AVLinearPCMIsBigEndianKey, AVLinearPCMIsNonInterleaved}) {
        NSDictionary s = settingsFor(48000, 16, 2);
        s.setObject(NSNumber::numberWithBool(true), flag);
        EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, s), nullptr) << flag;
    }
    NSDictionary aac = settingsFor(48000, 16, 2);
    aac.setObject(NSNumber::numberWithUnsignedInt(0x61616320), AVFormatIDKey);
    EXPECT_EQ(AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, aac), nullptr);
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
        if (l.container == 4) {
            const float f = static_cast<float>(k / 128.0);
            std::memcpy(le.data(), &f, 4);
        } else {
            const double d = k / 128.0;
            std::memcpy(le.data(), &d, 8);
        }
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

TEST(InputLayouts, EveryLayoutRoundTripsThroughLibsndfile) {
    const std::vector<Layout> layouts = {
        {"u8", 8, 1, 0},
        {"s8", 8, 1, kSigned},
        {"s16le", 16, 2, kSigned},
        {"s16be", 16, 2, kSigned | kAudioFormatFlagIsBigEndian},
        {"u16le", 16, 2, 0},
        {"s24le", 24, 3, kSigned},
        {"s24be", 24, 3, kSigned | kAudioFormatFlagIsBigEndian},
        {"s24in32low", 24, 4, kSigned},
        {"s24in32high", 24, 4, kSigned | kAudioFormatFlagIsAlignedHigh},
        {"s24in32highbe", 24, 4, kSigned | kAudioFormatFlagIsAlignedHigh | kAudioFormatFlagIsBigEndian},
        {"s32le", 32, 4, kSigned},
        {"s32be", 32, 4, kSigned | kAudioFormatFlagIsBigEndian},
        {"f32le", 32, 4, kAudioFormatFlagIsFloat},
        {"f32be", 32, 4, kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian},
        {"f64le", 64, 8, kAudioFormatFlagIsFloat},
        {"f64be", 64, 8, kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian},
    };
    constexpr int kFrames = 256;
    constexpr uint32_t kChannels = 3;  // a third channel catches stride mistakes
    auto valueAt = [](int frame, uint32_t channel) { return ((frame * 37 + static_cast<int>(channel) * 91) % 256) - 128; };

    TempDir dir;
    for (const Layout& l : layouts) {
        for (bool planar : {false, true}) {
            SCOPED_TRACE(std::string(l.name) + (planar ? " non-interleaved" : " interleaved"));
            AudioStreamBasicDescription d = makeLinearPCMDescription(
                48000, kChannels, l.bits, l.flags | (planar ? kAudioFormatFlagIsNonInterleaved : 0));
            d.mBytesPerFrame = d.mBytesPerPacket = l.container * (planar ? 1 : kChannels);
            std::vector<std::vector<uint8_t>> planes(planar ? kChannels : 1,
                                                     std::vector<uint8_t>(kFrames * d.mBytesPerFrame + 5, 0xEE));
            for (int f = 0; f < kFrames; ++f)
                for (uint32_t c = 0; c < kChannels; ++c) {
                    uint8_t* at = planar ? planes[c].data() + f * l.container
                                         : planes[0].data() + (f * kChannels + c) * l.container;
                    storeValue(at, l, valueAt(f, c));
                }
            const std::string path = dir.file(std::string(l.name) + (planar ? "-p" : "-i") + ".wav");
            Recording r = startRecording(path, 48000, 16, kChannels);
            ASSERT_NE(r.writer, nullptr);
            OwnedBuffer b = audioBuffer(d, kFrames, planes);  // 5 extra bytes per plane are ignored
            ASSERT_TRUE(r.input->appendSampleBuffer(b.ref())) << r.input->lastAppendError()->localizedDescription();
            ASSERT_TRUE(r.writer->finishWriting());
            EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Completed);
            EXPECT_EQ(r.writer->writtenFrameCount(), uint64_t{kFrames});
            EXPECT_EQ(r.input->clippedSampleCount(), 0u);

            const SoundFile sf = readSoundFile(path);
            ASSERT_TRUE(sf.opened);
            ASSERT_EQ(sf.info.frames, kFrames);
            ASSERT_EQ(sf.info.channels, static_cast<int>(kChannels));
            for (int f = 0; f < kFrames; ++f)
                for (uint32_t c = 0; c < kChannels; ++c)
                    ASSERT_EQ(sf.samples[f * kChannels + c], valueAt(f, c) * 256 * 65536) << f << "," << c;
        }
    }
}

TEST(InputLayouts, EachOutputDepthIsReadBackAtItsDepth) {
    TempDir dir;
    for (uint32_t bits : {8u, 16u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        const std::string path = dir.file("d" + std::to_string(bits) + ".wav");
        Recording r = startRecording(path, 44100, bits, 2);
        // -1, -0.5, 0, 0.5 in float, then +1 which saturates.
        std::vector<float> v = {-1.0f, -0.5f, 0.0f, 0.5f, 1.0f, 1.0f};
        OwnedBuffer b = audioBuffer(makeLinearPCMDescription(44100, 2, 32, kAudioFormatFlagIsFloat), 3, {bytesOf(v)});
        ASSERT_TRUE(r.input->appendSampleBuffer(b.ref()));
        ASSERT_TRUE(r.writer->finishWriting());
        EXPECT_EQ(r.input->clippedSampleCount(), 2u);
        const SoundFile sf = readSoundFile(path);
        ASSERT_TRUE(sf.opened);
        EXPECT_EQ(sf.info.samplerate, 44100);
        EXPECT_EQ(sf.info.format & SF_FORMAT_SUBMASK,
                  bits == 8 ? SF_FORMAT_PCM_U8 : bits == 16 ? SF_FORMAT_PCM_16 : bits == 24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_32);
        ASSERT_EQ(sf.reals.size(), 6u);
        EXPECT_EQ(sf.reals[0], -1.0);
        EXPECT_EQ(sf.reals[1], -0.5);
        EXPECT_EQ(sf.reals[2], 0.0);
        EXPECT_EQ(sf.reals[3], 0.5);
        EXPECT_NEAR(sf.reals[4], 1.0, std::ldexp(1.0, 1 - static_cast<int>(bits)));
    }
}

TEST(DeclinedRequests, NothingCrashesAndTheFileKeepsOnlyGoodAudio) {
    TempDir dir;
    const std::string path = dir.file("r.wav");
    Recording r = startRecording(path, 48000, 16, 2);
    ASSERT_NE(r.writer, nullptr);
    std::vector<int16_t> good(2 * 100, 1000);
    const auto desc = makeLinearPCMDescription(48000, 2, 16, kSigned);
    OwnedBuffer ok = audioBuffer(desc, 100, {bytesOf(good)});

    r.writer->addInput(nullptr);
    EXPECT_FALSE(r.input->appendSampleBuffer(nullptr));
    EXPECT_NE(r.input->lastAppendError(), nullptr);

    CMSampleBuffer video;
    video.formatDescription = CMFormatDescription{CMMediaType::Video, std::nullopt};
    video.numSamples = 1;
    EXPECT_FALSE(r.input->appendSampleBuffer(&video));
    CMSampleBuffer formatless;
    formatless.numSamples = 1;
    EXPECT_FALSE(r.input->appendSampleBuffer(&formatless));

    OwnedBuffer shortData = audioBuffer(desc, 101, {bytesOf(good)});
    EXPECT_FALSE(r.input->appendSampleBuffer(shortData.ref()));
    EXPECT_NE(r.input->lastAppendError()->localizedDescription().find("fewer bytes"), std::string::npos);
    OwnedBuffer absurd = audioBuffer(desc, int64_t{1} << 62, {bytesOf(good)});
    EXPECT_FALSE(r.input->appendSampleBuffer(absurd.ref()));
    AudioStreamBasicDescription huge = desc;
    huge.mChannelsPerFrame = 0xFFFFFFFFu;
    OwnedBuffer hugeChannels = audioBuffer(huge, 1, {bytesOf(good)});
    EXPECT_FALSE(r.input->appendSampleBuffer(hugeChannels.ref()));
    OwnedBuffer farRate = audioBuffer(makeLinearPCMDescription(1.0, 2, 16, kSigned), 100, {bytesOf(good)});
    EXPECT_FALSE(r.input->appendSampleBuffer(farRate.ref()));

    EXPECT_TRUE(r.input->appendSampleBuffer(ok.ref()));
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Writing);
    EXPECT_TRUE(r.writer->finishWriting());
    EXPECT_FALSE(r.writer->finishWriting());  // a second finish
    EXPECT_FALSE(r.input->appendSampleBuffer(ok.ref()));  // after finish
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Completed);

    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_EQ(sf.info.frames, 100);
}

TEST(DeclinedRequests, AnInputWithoutAWriterAndAWriterWithoutAnInput) {
    TempDir dir;
    auto input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, 2));
    std::vector<int16_t> data(20);
    OwnedBuffer b = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kSigned), 10, {bytesOf(data)});
    EXPECT_FALSE(input->appendSampleBuffer(b.ref()));
    EXPECT_NE(input->lastAppendError(), nullptr);

    auto writer = AVAssetWriter::assetWriterWithURL(NSURL(dir.file("x.wav")), AVFileTypeWAVE, nullptr);
    ASSERT_NE(writer, nullptr);
    writer->addInput(nullptr);
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), AVAssetWriterStatus::Failed);
    EXPECT_NE(writer->error(), nullptr);
    EXPECT_FALSE(writer->finishWriting());

    // Before startWriting, an attached input's appends are declined too.
    auto writer2 = AVAssetWriter::assetWriterWithURL(NSURL(dir.file("y.wav")), AVFileTypeWAVE, nullptr);
    writer2->addInput(input);
    EXPECT_FALSE(input->appendSampleBuffer(b.ref()));
    // The input belongs to one writer only.
    auto writer3 = AVAssetWriter::assetWriterWithURL(NSURL(dir.file("z.wav")), AVFileTypeWAVE, nullptr);
    EXPECT_FALSE(writer3->canAddInput(input));
}

TEST(DeclinedRequests, ReleasingInTheRecordersOrderWithoutFinishing) {
    TempDir dir;
    const std::string path = dir.file("abandoned.wav");
    Recording r = startRecording(path, 48000, 16, 2);
    std::vector<int16_t> data(2 * 48000 * 2, 300);  // two seconds: one checkpoint at least
    OwnedBuffer b = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kSigned), 96000, {bytesOf(data)});
    ASSERT_TRUE(r.input->appendSampleBuffer(b.ref()));
    std::shared_ptr<AVAssetWriterInput> input = std::move(r.input);
    input.reset();
    r.writer.reset();
    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_GE(sf.info.frames, 48000);
    EXPECT_LE(sf.info.frames, 96000);
}

TEST(DeclinedRequests, AnInputOutlivingItsWriterDeclinesAppends) {
    TempDir dir;
    Recording r = startRecording(dir.file("o.wav"), 48000, 16, 2);
    std::vector<int16_t> data(20);
    OwnedBuffer b = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kSigned), 10, {bytesOf(data)});
    r.writer.reset();
    EXPECT_FALSE(r.input->appendSampleBuffer(b.ref()));
}

}  // namespace
