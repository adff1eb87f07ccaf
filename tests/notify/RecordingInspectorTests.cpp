// Inspection of the shared recording: complete files of the forms the
// recorder writes pass, and every way a file can be unfinished, cut short,
// foreign or unsafe is reported as such instead of as a recording.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "RecordingInspector.h"
#include "tests/support/TempDirectory.h"

namespace {

using containing_app::OpenRecording;
using Status = containing_app::RecordingReport::Status;
using Bytes = std::vector<char>;

void putLe(Bytes& data, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) data[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class RecordingInspection : public testing::Test {
protected:
    testing_support::TempDirectory dir;
    std::string path = dir / "NewRecording.wav";

    // Writes `frames` frames of a quiet ramp with libsndfile.
    void writeWave(int format, int rate, int channels, sf_count_t frames) const {
        ::unlink(path.c_str());
        SF_INFO info{0, rate, channels, format, 0, 0};
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        std::vector<short> samples(static_cast<size_t>(frames * channels));
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<short>(i % 1000);
        ASSERT_EQ(sf_writef_short(file, samples.data(), frames), frames);
        sf_close(file);
    }
    Bytes bytes() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void setBytes(const Bytes& data) const {
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), static_cast<std::streamsize>(data.size()));
    }
};

TEST_F(RecordingInspection, CompleteFilesOfEveryFormTheRecorderWrites) {
    struct Case {
        int format, rate, channels;
        sf_count_t frames;
        const char* container;
        uint32_t bits;
    };
    for (const Case& c : {Case{SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 24000, "RIFF", 16},
                          Case{SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 44100, 6, 1000, "RIFF", 24},
                          Case{SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, 2, 4800, "RF64", 16},
                          Case{SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 801, "RIFF", 8}}) {  // odd: a pad byte
        SCOPED_TRACE(c.format);
        writeWave(c.format, c.rate, c.channels, c.frames);
        OpenRecording recording(path);
        const auto& r = recording.report();
        ASSERT_EQ(r.status, Status::Complete) << r.error;
        EXPECT_EQ(r.container, c.container);
        EXPECT_EQ(r.sampleRate, static_cast<uint32_t>(c.rate));
        EXPECT_EQ(r.channels, static_cast<uint32_t>(c.channels));
        EXPECT_EQ(r.bitsPerSample, c.bits);
        EXPECT_EQ(r.frames, static_cast<uint64_t>(c.frames));
        EXPECT_DOUBLE_EQ(r.durationSeconds, static_cast<double>(c.frames) / c.rate);
        EXPECT_GE(recording.fd(), 0);
    }
}

TEST_F(RecordingInspection, DamagedOrForeignFilesAreNeverComplete) {
    const auto dataSizeAt = [](const Bytes& d) {
        return static_cast<size_t>(std::search(d.begin(), d.end(), "data", "data" + 4) - d.begin()) + 4;
    };
    struct Case {
        const char* name;
        int format;
        std::function<void(Bytes&)> damage;
        Status status;
        const char* problem;
    };
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16, rf64 = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    const std::vector<Case> cases = {
        {"cut short", wav16, [](Bytes& d) { d.resize(std::max<size_t>(d.size(), 100) - 100); }, Status::Incomplete, "cut short"},
        {"frames beyond the header", wav16, [](Bytes& d) { d.insert(d.end(), 4 * 480, '\x01'); },
         Status::Incomplete, "not finished"},
        {"placeholder sizes", wav16, [](Bytes& d) { putLe(d, 4, 36, 4); }, Status::Incomplete, ""},
        {"data ends inside a frame", wav16,
         [&](Bytes& d) {
             d.resize(std::max<size_t>(d.size(), 2) - 2);
             putLe(d, 4, d.size() - 8, 4);
             putLe(d, dataSizeAt(d), d.size() - dataSizeAt(d) - 4, 4);
         },
         Status::Incomplete, "frame"},
        {"RF64 with an impossible RIFF size", rf64, [](Bytes& d) { putLe(d, 20, UINT64_MAX, 8); }, Status::Invalid, ""},
        {"RF64 with an enormous data size", rf64, [](Bytes& d) { putLe(d, 28, UINT64_MAX - 3, 8); },
         Status::Incomplete, ""},
        {"not RIFF", wav16, [](Bytes& d) { d = {'h', 'e', 'l', 'l', 'o'}; }, Status::Invalid, ""},
        {"RIFF but not WAVE", wav16, [](Bytes& d) { std::memcpy(d.data() + 8, "AVI ", 4); }, Status::Invalid, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeWave(c.format, 48000, 2, 4800);
        Bytes data = bytes();
        c.damage(data);
        setBytes(data);
        const auto r = OpenRecording(path).report();
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.error.find(c.problem), std::string::npos) << r.error;
    }
}

TEST_F(RecordingInspection, MissingLinkedAndSpecialFilesAreNotRecordings) {
    EXPECT_EQ(OpenRecording(path).report().status, Status::Missing);

    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 10);
    const std::string real = dir / "real.wav";
    ASSERT_EQ(::rename(path.c_str(), real.c_str()), 0);
    ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
    const auto link = OpenRecording(path).report();
    EXPECT_EQ(link.status, Status::Invalid);
    EXPECT_NE(link.error.find("symbolic link"), std::string::npos);

    ::unlink(path.c_str());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    OpenRecording fifo(path);  // must not block waiting for a writer
    EXPECT_EQ(fifo.report().status, Status::Invalid);
    EXPECT_EQ(fifo.fd(), -1);
}

TEST_F(RecordingInspection, GarbageChunkSizesNeverReadOutsideTheFile) {
    writeWave(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 10);
    const Bytes original = bytes();
    ASSERT_EQ(original.size(), 44u + 40u);  // canonical 44-byte header
    // Every 4-byte window of the header set to 0xFFFFFFFF in turn must be
    // inspected safely; one over a size field must never pass as complete.
    for (size_t at = 4; at + 4 <= 44; ++at) {
        Bytes data = original;
        putLe(data, at, 0xFFFFFFFFu, 4);
        setBytes(data);
        const auto status = OpenRecording(path).report().status;
        if (at == 4 || at == 16 || at == 40) {
            EXPECT_NE(status, Status::Complete) << "size field at " << at;
        }
    }
}

}  // namespace
