// The writer as the recorder uses it: creation, each output depth read back
// through the reader, and the requests it must decline harmlessly.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "MediaTestSupport.h"

namespace {

using namespace mediatest;
using testing_support::makeFloatBuffer;
namespace fs = std::filesystem;

TEST(WriterCreation, RefusesWhatItMustNotWriteOrFollowAndCreatesPrivately) {
    TempDirectory dir;
    std::ofstream(dir / "existing.wav") << "keep";
    ASSERT_EQ(::symlink((dir / "elsewhere.wav").c_str(), (dir / "link.wav").c_str()),
              0);  // dangling
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::owner_all | fs::perms::group_write);
    const std::pair<const char*, long> refused[] = {{"existing.wav", NSFileWriteFileExistsError},
                                                    {"link.wav", NSFileWriteFileExistsError},
                                                    {"shared/a.wav", 0},
                                                    {"missing/a.wav", NSFileNoSuchFileError},
                                                    {"a.caf", AVErrorUnknown}};
    for (const auto& [path, code] : refused) {
        NSErrorPtr error;
        const AVFileType type = fs::path(path).extension() == ".wav" ? AVFileTypeWAVE : "com.apple.coreaudio-format";
        EXPECT_EQ(AVAssetWriter::assetWriterWithURL(NSURL(dir / path), type, &error), nullptr) << path;
        ASSERT_NE(error, nullptr) << path;
        EXPECT_TRUE(code == 0 || error->code() == code) << path << ": " << error->code();
    }
    EXPECT_EQ(readPrefix(dir / "existing.wav", 10), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    for (const char* never : {"elsewhere.wav", "shared/a.wav", "a.caf"}) EXPECT_FALSE(fs::exists(dir / never)) << never;

    fs::permissions(dir.path(), fs::perms::owner_all);
    ASSERT_NE(AVAssetWriter::assetWriterWithURL(NSURL(dir / "t.wav"), AVFileTypeWAVE, nullptr), nullptr);
    EXPECT_EQ(fs::status(dir / "t.wav").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// +1 saturates; the rest is exact at every depth, through the direct
// converter (stereo) and through the pipeline's encoder (mono, remixed).
class OutputDepth : public testing::TestWithParam<uint32_t> {};

TEST_P(OutputDepth, IsReadBackAtItsDepthExactlyAndSaturated) {
    const uint32_t bits = GetParam();
    TempDirectory dir;
    Recording r = startRecording(dir / "r.wav", 44100, bits, 2);
    ASSERT_TRUE(r.input->appendSampleBuffer(makeFloatBuffer({-1.0f, -0.5f, 0.0f, 0.5f, 1.0f, 1.0f}, 2, 44100)->ref()));
    ASSERT_TRUE(r.input->appendSampleBuffer(makeFloatBuffer({-1.0f, 0.5f, 1.0f}, 1, 44100)->ref()));
    ASSERT_TRUE(r.writer->finishWriting());
    const WaveReadBack sf = readWave(dir / "r.wav");
    EXPECT_EQ(sf.description.sampleRate, 44100u);
    EXPECT_EQ(sf.description.bitsPerSample, bits);
    const double top = 1.0 - std::ldexp(1.0, 1 - static_cast<int>(bits));
    EXPECT_EQ(sf.reals, (std::vector<double>{-1, -0.5, 0, 0.5, top, top, -1, -1, 0.5, 0.5, top, top}));
}
INSTANTIATE_TEST_SUITE_P(Depths, OutputDepth, testing::Values(8u, 16u, 24u, 32u));

TEST(DeclinedRequests, BadBuffersChangeNothingAndTheFileKeepsOnlyGoodAudio) {
    TempDirectory dir;
    Recording r = startRecording(dir / "r.wav", 48000, 16, 2);
    ASSERT_NE(r.writer, nullptr);
    constexpr AudioFormatFlags kSigned = kAudioFormatFlagIsSignedInteger;
    const auto desc = makeLinearPCMDescription(48000, 2, 16, kSigned);
    const std::vector<uint8_t> good(4 * 100, 0x10);
    CMSampleBuffer formatless;
    formatless.numSamples = 1;
    // (Every description and layout the writer refuses: StreamLayout.*.)
    const std::unique_ptr<testing_support::OwnedBuffer> bad[] = {
        testing_support::makeVideoBuffer(), makeAudioBuffer(desc, 101, {good}),  // short data
        makeAudioBuffer(desc, int64_t{1} << 62, {good}),
        makeAudioBuffer(makeLinearPCMDescription(1.0, 2, 16, kSigned), 100, {good})};  // rate far off
    r.writer->addInput(nullptr);
    EXPECT_FALSE(r.input->appendSampleBuffer(nullptr));
    EXPECT_FALSE(r.input->appendSampleBuffer(&formatless));
    for (const auto& b : bad) EXPECT_FALSE(r.input->appendSampleBuffer(b->ref()));

    EXPECT_TRUE(r.input->appendSampleBuffer(makeAudioBuffer(desc, 100, {good})->ref()));
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Writing);
    EXPECT_TRUE(r.writer->finishWriting());
    EXPECT_FALSE(r.writer->finishWriting());                                               // a second finish
    EXPECT_FALSE(r.input->appendSampleBuffer(makeAudioBuffer(desc, 100, {good})->ref()));  // after finish
    EXPECT_EQ(r.writer->status(), AVAssetWriterStatus::Completed);
    EXPECT_EQ(readWave(dir / "r.wav").frames(), 100u);
}

TEST(DeclinedRequests, InputsAndWritersThatAreNotPairedOrOutliveTheOther) {
    TempDirectory dir;
    auto input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(48000, 16, 2));
    const auto buffer = testing_support::makeInt16Buffer(std::vector<int16_t>(20), 2, 48000, false);
    EXPECT_FALSE(input->appendSampleBuffer(buffer->ref()));  // no writer
    const auto writer = [&](const char* name) {
        return AVAssetWriter::assetWriterWithURL(NSURL(dir / name), AVFileTypeWAVE, nullptr);
    };
    auto lonely = writer("x.wav");
    EXPECT_FALSE(lonely->startWriting());  // no input
    EXPECT_EQ(lonely->status(), AVAssetWriterStatus::Failed);
    EXPECT_NE(lonely->error(), nullptr);
    EXPECT_FALSE(lonely->finishWriting());

    // One input, two writers: it writes the file of the first that starts.
    auto first = writer("y.wav"), second = writer("z.wav");
    first->addInput(input);
    second->addInput(input);
    EXPECT_FALSE(input->appendSampleBuffer(buffer->ref()));  // before startWriting
    ASSERT_TRUE(first->startWriting());
    EXPECT_FALSE(second->startWriting());
    EXPECT_TRUE(input->appendSampleBuffer(buffer->ref()));
    first.reset();
    EXPECT_FALSE(input->appendSampleBuffer(buffer->ref()));  // its writer is gone
}

}  // namespace
