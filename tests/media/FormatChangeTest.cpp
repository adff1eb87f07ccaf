// Buffers whose rate, channel count or layout differ from the file's: the
// file keeps the duration of the audio delivered and a sine keeps its pitch.

#include <gtest/gtest.h>

#include <cmath>

#include "MediaTestSupport.h"

namespace {

using namespace mediatest;

constexpr double kTone = 1000.0;

// Appends `seconds` of a sine at `rate` in 1,024-frame float buffers.
void appendSine(AVAssetWriterInput& input, double rate, uint32_t channels, double seconds, double hz = kTone) {
    const auto total = static_cast<int64_t>(std::llround(seconds * rate));
    for (int64_t at = 0; at < total; at += 1024) {
        const int64_t n = std::min<int64_t>(1024, total - at);
        OwnedBuffer b = sineFloatBuffer(rate, channels, n, hz, at);
        ASSERT_TRUE(input.appendSampleBuffer(b.ref())) << input.lastAppendError()->localizedDescription();
    }
}

std::vector<double> channelOf(const SoundFile& sf, int channel, size_t from, size_t to) {
    std::vector<double> out;
    for (size_t f = from; f < to && f < static_cast<size_t>(sf.info.frames); ++f)
        out.push_back(sf.reals[f * static_cast<size_t>(sf.info.channels) + static_cast<size_t>(channel)]);
    return out;
}

TEST(RateChanges, DurationAndPitchSurviveResampling) {
    TempDir dir;
    const std::string path = dir.file("rates.wav");
    Recording r = startRecording(path, 48000, 16, 2);
    const double rates[] = {48000, 44100, 96000, 22050, 48000};
    for (double rate : rates) appendSine(*r.input, rate, 2, 0.5);
    ASSERT_TRUE(r.writer->finishWriting());

    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_EQ(sf.info.samplerate, 48000);
    const int64_t expected = 5 * 24000;
    EXPECT_NEAR(static_cast<double>(sf.info.frames), static_cast<double>(expected), 1024.0);
    EXPECT_EQ(r.writer->writtenFrameCount(), static_cast<uint64_t>(sf.info.frames));

    // Each half second, away from the joins, is still a 1 kHz sine at full level.
    for (int segment = 0; segment < 5; ++segment) {
        SCOPED_TRACE(rates[segment]);
        const size_t from = static_cast<size_t>(segment) * 24000 + 2000;
        const auto left = channelOf(sf, 0, from, from + 20000);
        EXPECT_NEAR(measuredFrequency(left, 48000), kTone, 1.0);
        const double peak = *std::max_element(left.begin(), left.end());
        EXPECT_NEAR(peak, 0.5, 0.01);
        EXPECT_EQ(channelOf(sf, 1, from, from + 20000), left);
    }
    EXPECT_EQ(r.input->clippedSampleCount(), 0u);
}

TEST(RateChanges, ARecordingEndingResampledIsFlushedAtFinish) {
    TempDir dir;
    const std::string path = dir.file("tail.wav");
    Recording r = startRecording(path, 48000, 16, 1);
    appendSine(*r.input, 44100, 1, 1.0);
    ASSERT_TRUE(r.writer->finishWriting());
    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_NEAR(static_cast<double>(sf.info.frames), 48000.0, 64.0);
    EXPECT_NEAR(measuredFrequency(channelOf(sf, 0, 1000, 47000), 48000), kTone, 1.0);
}

TEST(ChannelChanges, MonoSpreadsStereoAveragesWiderKeepsTheFront) {
    TempDir dir;
    const std::string path = dir.file("channels.wav");
    Recording r = startRecording(path, 48000, 16, 2);
    const auto s16 = makeLinearPCMDescription(48000, 1, 16, kAudioFormatFlagIsSignedInteger);
    std::vector<int16_t> mono = {1000, -2000, 3000};
    OwnedBuffer m = audioBuffer(s16, 3, {bytesOf(mono)});
    ASSERT_TRUE(r.input->appendSampleBuffer(m.ref()));

    std::vector<int16_t> six = {100, 200, 300, 400, 500, 600, -100, -200, -300, -400, -500, -600};
    OwnedBuffer s = audioBuffer(makeLinearPCMDescription(48000, 6, 16, kAudioFormatFlagIsSignedInteger), 2, {bytesOf(six)});
    ASSERT_TRUE(r.input->appendSampleBuffer(s.ref()));

    std::vector<int16_t> stereo = {7, 8};
    OwnedBuffer st = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kAudioFormatFlagIsSignedInteger), 1, {bytesOf(stereo)});
    ASSERT_TRUE(r.input->appendSampleBuffer(st.ref()));
    ASSERT_TRUE(r.writer->finishWriting());

    // And a mono file takes the average of a stereo buffer.
    const std::string monoPath = dir.file("mono.wav");
    Recording rm = startRecording(monoPath, 48000, 16, 1);
    std::vector<int16_t> pair = {1000, 3000, -1000, -4000};
    OwnedBuffer p = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kAudioFormatFlagIsSignedInteger), 2, {bytesOf(pair)});
    ASSERT_TRUE(rm.input->appendSampleBuffer(p.ref()));
    ASSERT_TRUE(rm.writer->finishWriting());

    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    ASSERT_EQ(sf.info.frames, 6);
    std::vector<int32_t> got;
    for (int32_t v : sf.samples) got.push_back(v >> 16);
    EXPECT_EQ(got, (std::vector<int32_t>{1000, 1000, -2000, -2000, 3000, 3000, 100, 200, -100, -200, 7, 8}));

    const SoundFile sm = readSoundFile(monoPath);
    ASSERT_TRUE(sm.opened);
    ASSERT_EQ(sm.info.frames, 2);
    EXPECT_EQ(sm.samples[0] >> 16, 2000);
    EXPECT_EQ(sm.samples[1] >> 16, -2500);
}

TEST(ChannelChanges, StereoToSurroundFillsTheRestWithTheMonoMix) {
    TempDir dir;
    const std::string path = dir.file("surround.wav");
    Recording r = startRecording(path, 48000, 16, 6);
    std::vector<int16_t> stereo = {1000, 3000};
    OwnedBuffer b = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kAudioFormatFlagIsSignedInteger), 1, {bytesOf(stereo)});
    ASSERT_TRUE(r.input->appendSampleBuffer(b.ref()));
    ASSERT_TRUE(r.writer->finishWriting());
    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    ASSERT_EQ(sf.info.channels, 6);
    std::vector<int32_t> got;
    for (int32_t v : sf.samples) got.push_back(v >> 16);
    EXPECT_EQ(got, (std::vector<int32_t>{1000, 3000, 2000, 2000, 2000, 2000}));
}

TEST(CombinedChanges, RateAndChannelsAndLayoutTogether) {
    TempDir dir;
    const std::string path = dir.file("mixed.wav");
    Recording r = startRecording(path, 48000, 24, 2);
    appendSine(*r.input, 48000, 2, 0.25);
    appendSine(*r.input, 32000, 1, 0.25);
    appendSine(*r.input, 44100, 6, 0.25);
    // 16-bit big-endian non-interleaved stereo at the file's rate.
    std::vector<uint8_t> left, right;
    for (int f = 0; f < 12000; ++f) {
        const auto v = static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * kTone * f / 48000)));
        for (auto* plane : {&left, &right}) {
            plane->push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
            plane->push_back(static_cast<uint8_t>(v & 0xFF));
        }
    }
    OwnedBuffer be = audioBuffer(makeLinearPCMDescription(48000, 2, 16,
                                                          kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian |
                                                              kAudioFormatFlagIsNonInterleaved),
                                 12000, {left, right});
    ASSERT_TRUE(r.input->appendSampleBuffer(be.ref()));
    ASSERT_TRUE(r.writer->finishWriting());

    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_NEAR(static_cast<double>(sf.info.frames), 48000.0, 1024.0);
    for (int segment = 0; segment < 4; ++segment) {
        const size_t from = static_cast<size_t>(segment) * 12000 + 1500;
        EXPECT_NEAR(measuredFrequency(channelOf(sf, 0, from, from + 9000), 48000), kTone, 2.0) << segment;
        EXPECT_NEAR(measuredFrequency(channelOf(sf, 1, from, from + 9000), 48000), kTone, 2.0) << segment;
    }
}

}  // namespace
