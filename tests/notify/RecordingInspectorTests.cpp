// Inspection of the shared recording: complete files of the forms the
// recorder writes pass, and every way a file can be unfinished, cut short,
// foreign or unsafe is reported as such instead of as a recording.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "RecordingInspector.h"
#include "TestSupport.h"

namespace {

using containing_app::OpenRecording;
using Status = containing_app::RecordingReport::Status;

class RecordingInspection : public testing::Test {
protected:
    notifytest::TempDir dir;
    std::string path = dir.path() + "/NewRecording.wav";

    // Writes `frames` frames of a quiet ramp with libsndfile.
    void writeWave(int format, int rate, int channels, sf_count_t frames) {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<short> samples(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>(i % 1000);
        ASSERT_EQ(sf_writef_short(file, samples.data(), frames), frames);
        sf_close(file);
    }

    std::vector<char> bytes() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void setBytes(const std::vector<char>& data) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    static void putLe32(std::vector<char>& data, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    static void putLe64(std::vector<char>& data, size_t at, uint64_t v) {
        for (int i = 0; i < 8; ++i) data[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
};

TEST_F(RecordingInspection, CompleteStereo16BitFile) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 24000);
    OpenRecording recording(path);
    const auto& r = recording.report();
    ASSERT_EQ(r.status, Status::Complete) << r.problem;
    EXPECT_EQ(r.container, "RIFF");
    EXPECT_EQ(r.sampleRate, 48000u);
    EXPECT_EQ(r.channels, 2u);
    EXPECT_EQ(r.bitsPerSample, 16u);
    EXPECT_EQ(r.frames, 24000u);
    EXPECT_DOUBLE_EQ(r.durationSeconds, 0.5);
    EXPECT_GE(recording.fd(), 0);
}

TEST_F(RecordingInspection, CompleteExtensibleRF64AndOddSizedFiles) {
    writeWave(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 44100, 6, 1000);
    EXPECT_EQ(OpenRecording(path).report().status, Status::Complete);
    EXPECT_EQ(OpenRecording(path).report().bitsPerSample, 24u);

    writeWave(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, 2, 4800);
    auto rf64 = OpenRecording(path).report();
    ASSERT_EQ(rf64.status, Status::Complete) << rf64.problem;
    EXPECT_EQ(rf64.container, "RF64");
    EXPECT_EQ(rf64.frames, 4800u);

    // 8-bit mono with an odd frame count: the data chunk is followed by a pad byte.
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 801);
    auto odd = OpenRecording(path).report();
    ASSERT_EQ(odd.status, Status::Complete) << odd.problem;
    EXPECT_EQ(odd.frames, 801u);
}

TEST_F(RecordingInspection, MissingFile) {
    const auto r = OpenRecording(path).report();
    EXPECT_EQ(r.status, Status::Missing);
    EXPECT_EQ(r.path, path);
}

TEST_F(RecordingInspection, FileCutShortIsIncomplete) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800);
    auto data = bytes();
    data.resize(data.size() - 100);
    setBytes(data);
    const auto r = OpenRecording(path).report();
    EXPECT_EQ(r.status, Status::Incomplete);
    EXPECT_NE(r.problem.find("cut short"), std::string::npos) << r.problem;
}

TEST_F(RecordingInspection, SamplesBeyondTheHeaderMeanItWasNotFinished) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800);
    auto data = bytes();
    data.insert(data.end(), 4 * 480, '\x01');  // appended frames the header does not count
    setBytes(data);
    const auto r = OpenRecording(path).report();
    EXPECT_EQ(r.status, Status::Incomplete);
    EXPECT_NE(r.problem.find("not finished"), std::string::npos) << r.problem;
}

TEST_F(RecordingInspection, PlaceholderSizesOfAHeaderNeverUpdatedAreIncomplete) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800);
    auto data = bytes();
    putLe32(data, 4, 36);  // RIFF size of a header with an empty data chunk
    setBytes(data);
    EXPECT_EQ(OpenRecording(path).report().status, Status::Incomplete);
}

TEST_F(RecordingInspection, DataChunkThatEndsInsideAFrameIsIncomplete) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 10);
    auto data = bytes();
    // Drop the last two bytes and shrink the sizes to match: 9.5 frames.
    data.resize(data.size() - 2);
    putLe32(data, 4, static_cast<uint32_t>(data.size() - 8));
    const auto dataAt = static_cast<size_t>(std::search(data.begin(), data.end(), "data", "data" + 4) - data.begin());
    putLe32(data, dataAt + 4, 38);
    setBytes(data);
    const auto r = OpenRecording(path).report();
    EXPECT_EQ(r.status, Status::Incomplete);
    EXPECT_NE(r.problem.find("frame"), std::string::npos) << r.problem;
}

TEST_F(RecordingInspection, RF64WithImpossibleSizesIsRejectedWithoutOverflow) {
    writeWave(SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, 2, 100);
    auto data = bytes();
    ASSERT_EQ(std::string(data.data() + 12, 4), "ds64");
    putLe64(data, 20, UINT64_MAX);      // RIFF size
    setBytes(data);
    EXPECT_EQ(OpenRecording(path).report().status, Status::Invalid);
    putLe64(data, 20, data.size() - 8);  // back to right, then an enormous data size
    putLe64(data, 28, UINT64_MAX - 3);
    setBytes(data);
    EXPECT_EQ(OpenRecording(path).report().status, Status::Incomplete);
}

TEST_F(RecordingInspection, ForeignAndUnsafeFilesAreNotRecordings) {
    setBytes({'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(OpenRecording(path).report().status, Status::Invalid);

    std::vector<char> riffButNotWave(64, 0);
    std::memcpy(riffButNotWave.data(), "RIFF\x38\0\0\0AVI ", 12);
    setBytes(riffButNotWave);
    EXPECT_EQ(OpenRecording(path).report().status, Status::Invalid);

    ::unlink(path.c_str());
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 10);
    const std::string real = dir.path() + "/real.wav";
    ASSERT_EQ(::rename(path.c_str(), real.c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
    const auto link = OpenRecording(path).report();
    EXPECT_EQ(link.status, Status::Invalid);
    EXPECT_NE(link.problem.find("symbolic link"), std::string::npos);

    ::unlink(path.c_str());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    OpenRecording fifo(path);  // must not block waiting for a writer
    EXPECT_EQ(fifo.report().status, Status::Invalid);
    EXPECT_EQ(fifo.fd(), -1);
}

TEST_F(RecordingInspection, GarbageChunkSizesNeverReadOutsideTheFile) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 10);
    const auto original = bytes();
    ASSERT_EQ(original.size(), 44u + 40u);  // canonical 44-byte header
    // Every 4-byte window of the header set to 0xFFFFFFFF in turn must be
    // inspected safely; one over a size field must never pass as complete.
    for (size_t at = 4; at + 4 <= 44; ++at) {
        auto data = original;
        putLe32(data, at, 0xFFFFFFFFu);
        setBytes(data);
        const auto r = OpenRecording(path).report();
        if (at == 4 || at == 16 || at == 40) {
            EXPECT_NE(r.status, Status::Complete) << "size field at " << at;
        }
    }
}

}  // namespace
