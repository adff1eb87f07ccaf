// The file over long recordings and hard endings: promotion to RF64 past the
// 32-bit limit, checkpoints, a process killed mid-recording, and a disk that fills up.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "MediaTestSupport.h"
#include "platform/media/wave/WaveFileWriter.h"
#include "platform/media/wave/WaveHeader.h"

namespace {

using namespace mediatest;
using media::WaveFileWriter;
using media::WaveFormat;

// A file in memory that outlives the sink writing it; the disk is full at
// `failAtOrBeyond` bytes.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t failAtOrBeyond = UINT64_MAX;
};

class MemorySink final : public media::ByteSink {
public:
    explicit MemorySink(MemoryFile& file) : file_(file) {}
    media::SinkResult writeAt(uint64_t offset, const void* data, size_t size) override {
        media::SinkResult r;
        size_t room = size;
        if (offset + size > file_.failAtOrBeyond) {
            room = offset >= file_.failAtOrBeyond ? 0 : static_cast<size_t>(file_.failAtOrBeyond - offset);
            r.error = ENOSPC;
        }
        if (file_.bytes.size() < offset + room) file_.bytes.resize(offset + room);
        std::memcpy(file_.bytes.data() + offset, data, room);
        r.written = room;
        return r;
    }
    int truncate(uint64_t size) override {
        file_.bytes.resize(size);
        return 0;
    }
    int close() override { return 0; }

private:
    MemoryFile& file_;
};

// 16-bit stereo frames with a recognisable ramp: frame f holds (f % 20000) - 10000.
int16_t rampAt(uint64_t frame) { return static_cast<int16_t>(static_cast<int64_t>(frame % 20000) - 10000); }

bool appendRamp(const Recording& r, uint64_t firstFrame, int64_t frames) {
    std::vector<int16_t> data;
    for (int64_t f = 0; f < frames; ++f) data.insert(data.end(), 2, rampAt(firstFrame + static_cast<uint64_t>(f)));
    return r.append16(data, 2);
}

void expectRamp(const WaveReadBack& sf) {
    for (size_t i = 0; i < sf.samples.size(); ++i) ASSERT_EQ(sf.samples[i] >> 16, rampAt(i / 2)) << "frame " << i / 2;
}

TEST(LongRecordings, CrossingFourGigabytesPromotesToRF64ThatReadersOpen) {
    TempDirectory dir;
    const WaveFormat format{48000, 2, 16};
    // The most 4-byte frames a plain RIFF file holds.
    const uint64_t plainFrames = (0xFFFFFFFEull - (media::wave::headerSize(format) - 8)) / 4;
    // Files that start 1,000 frames below the limit (sparse), then get `frames` more one by one.
    const auto write = [&](const std::string& path, int frames) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        WaveFileWriter::Options options;
        options.initialDataBytes = (plainFrames - 1000) * 4;
        WaveFileWriter file(std::make_unique<media::FileDescriptorSink>(fd), options);
        ASSERT_TRUE(file.begin(format));
        for (int i = 0; i < frames; ++i) {
            uint8_t* dst = file.reserve(4);
            ASSERT_NE(dst, nullptr);
            std::memset(dst, 0x22, 4);
            ASSERT_TRUE(file.commit(1));
        }
        ASSERT_TRUE(file.finish());
    };
    write(dir / "at-the-limit.wav", 1000);
    const auto plain = readPrefix(dir / "at-the-limit.wav", 80);
    ASSERT_EQ(plain.size(), 80u);
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + 4), "RIFF");
    EXPECT_EQ(le(plain, 4), 72 + plainFrames * 4);
    EXPECT_EQ(std::string(plain.begin() + 12, plain.begin() + 16), "JUNK");
    EXPECT_EQ(le(plain, 76), plainFrames * 4);

    const std::string path = dir / "past-the-limit.wav";
    write(path, 1001);
    const auto head = readPrefix(path, 80);
    const uint64_t dataBytes = (plainFrames + 1) * 4;
    ASSERT_EQ(head.size(), 80u);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 80 + dataBytes);
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
    EXPECT_EQ(le(head, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "ds64");
    EXPECT_EQ(le(head, 20, 8), 72 + dataBytes);
    EXPECT_EQ(le(head, 28, 8), dataBytes);
    EXPECT_EQ(le(head, 36, 8), dataBytes / 4);
    EXPECT_EQ(le(head, 76), 0xFFFFFFFFu);

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), dataBytes / 4);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    ASSERT_EQ(sf_seek(f, info.frames - 1, SEEK_SET), info.frames - 1);
    short last[2] = {0, 0};
    EXPECT_EQ(sf_readf_short(f, last, 1), 1);
    EXPECT_EQ(last[0], 0x2222);
    sf_close(f);

    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        FILE* p = ::popen(("sox --i -s '" + path + "' 2>/dev/null").c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[64] = {};
        ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
        ::pclose(p);
        EXPECT_EQ(std::stoull(line), dataBytes / 4) << "sox reads the ds64 frame count";
    }
}

TEST(LongRecordings, CheckpointsThatHoldBackAPartialPageLoseAndCorruptNothing) {
    // 24-bit mono: 3-byte frames never end on a page boundary, and an odd
    // frame count makes the checkpoints' claimed sizes odd.
    MemoryFile memory;
    WaveFileWriter file(std::make_unique<MemorySink>(memory));
    const WaveFormat format{44100, 1, 24};
    ASSERT_TRUE(file.begin(format));
    const size_t header = media::wave::headerSize(format);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 301; ++i) {  // 301 buffers of 1,001 frames: about 6.8 seconds
        uint8_t* dst = file.reserve(3 * 1001);
        ASSERT_NE(dst, nullptr);
        for (size_t b = 0; b < 3 * 1001; ++b) {
            dst[b] = static_cast<uint8_t>(expected.size() * 7 + 1);
            expected.push_back(dst[b]);
        }
        ASSERT_TRUE(file.commit(1001));
        const uint64_t claimed = le(memory.bytes, header - 4);
        EXPECT_EQ(claimed % 3, 0u) << "the header claims whole frames only";
        EXPECT_LT(expected.size() - claimed, 3u * 44100) << "the header follows the data at least every second";
        ASSERT_LE(header + claimed, memory.bytes.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + static_cast<long>(claimed), memory.bytes.begin() + static_cast<long>(header)))
            << "what the header claims is exactly what was appended";
    }
    ASSERT_TRUE(file.finish());
    ASSERT_EQ(le(memory.bytes, header - 4), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), memory.bytes.begin() + static_cast<long>(header)));
    EXPECT_EQ(memory.bytes.size(), header + expected.size() + (expected.size() & 1));
}

// Whatever the point where the disk fills, the file keeps whole frames (and
// drops a frame rather than the pad byte) under a header that matches them.
TEST(LongRecordings, ADiskFullMidWriteKeepsWholeFramesAndAValidHeader) {
    struct Case {
        WaveFormat format;
        size_t bufferBytes;
        uint64_t failAt;
    };
    for (const Case& c : {Case{{48000, 2, 16}, 256, 1000}, Case{{48000, 2, 16}, 256, 1001},
                          Case{{48000, 2, 16}, 256, 80 + 4 * 300 + 3},
                          Case{{8000, 1, 24}, 3, 104 + 3 * 5}}) {  // room for five frames but no pad byte
        SCOPED_TRACE(testing::Message() << c.format.bitsPerSample << " bits, full at " << c.failAt);
        MemoryFile memory;
        memory.failAtOrBeyond = c.failAt;
        WaveFileWriter::Options options;
        options.bufferBytes = c.bufferBytes;
        WaveFileWriter file(std::make_unique<MemorySink>(memory), options);
        ASSERT_TRUE(file.begin(c.format));
        const size_t frameBytes = c.format.channels * c.format.bitsPerSample / 8u;
        const size_t chunk = std::min<size_t>(16, c.bufferBytes / frameBytes);  // frames per append
        for (int i = 0; i < 100; ++i) {
            uint8_t* dst = file.reserve(frameBytes * chunk);
            if (dst == nullptr) break;
            std::memset(dst, i, frameBytes * chunk);
            if (!file.commit(chunk)) break;
        }
        EXPECT_TRUE(file.hasFailed());
        EXPECT_EQ(file.errorNumber(), ENOSPC);
        EXPECT_EQ(file.reserve(frameBytes), nullptr);
        EXPECT_FALSE(file.finish());
        const size_t header = media::wave::headerSize(c.format);
        const uint64_t data = le(memory.bytes, header - 4);
        EXPECT_EQ(data % frameBytes, 0u);
        EXPECT_EQ(memory.bytes.size(), header + data + (data & 1));
        EXPECT_LE(memory.bytes.size(), c.failAt);
        const uint64_t oneMore = data + frameBytes;
        EXPECT_GT(header + oneMore + (oneMore & 1), c.failAt) << "a whole frame more would have fitted";
        EXPECT_EQ(le(memory.bytes, 4), header - 8 + data + (data & 1));
        EXPECT_EQ(file.frameCount(), data / frameBytes);
    }
}

// Runs `body` in a child process and returns its wait status.
template <typename Body>
int inChild(Body body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(HardEndings, AKilledRecorderLeavesAllButTheLastSecond) {
    TempDirectory dir;
    const std::string path = dir / "killed.wav";
    constexpr int64_t kFrames = 48000 * 3 + 12345;  // 3.26 seconds
    const int status = inChild([&] {
        Recording r = startRecording(path, 48000, 16, 2);
        for (int64_t at = 0; at < kFrames; at += 1024)
            appendRamp(r, static_cast<uint64_t>(at), std::min<int64_t>(1024, kFrames - at));
        ::raise(SIGKILL);  // no destructor, no finish
    });
    ASSERT_TRUE(WIFSIGNALED(status));

    const WaveReadBack sf = readWave(path);
    ASSERT_EQ(sf.status, WaveStatus::Complete) << sf.problem;
    EXPECT_GE(sf.frames(), kFrames - 48000);
    EXPECT_LE(sf.frames(), kFrames);
    expectRamp(sf);
}

TEST(HardEndings, AFileSizeLimitStopsTheWriterWithDiskFull) {
    TempDirectory dir;
    const std::string path = dir / "limited.wav";
    constexpr rlim_t kLimit = 100000 + 2;  // not a whole number of frames after the header
    // The child's exit status names the first check that failed.
    const int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{kLimit, kLimit};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(10);
        Recording r = startRecording(path, 48000, 16, 2);
        if (!r.writer) ::_exit(11);
        uint64_t at = 0;
        bool refused = false;
        for (int i = 0; i < 200 && !refused; ++i, at += 1024) refused = !appendRamp(r, at, 1024);
        if (!refused) ::_exit(12);
        if (r.writer->status() != AVAssetWriterStatus::Failed) ::_exit(13);
        if (!r.writer->error() || r.writer->error()->code() != AVErrorDiskFull) ::_exit(14);
        if (r.writer->error()->userInfoValue(NSFilePathErrorKey) != path) ::_exit(15);
        if (appendRamp(r, at, 1024)) ::_exit(16);  // later appends do nothing
        if (r.writer->finishWriting() || r.writer->finishWriting()) ::_exit(17);
        if (r.writer->writtenFrameCount() != (100000 - 80) / 4) ::_exit(19);
    });
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 100000);  // whole frames only
    const WaveReadBack sf = readWave(path);
    EXPECT_EQ(sf.frames(), (100000u - 80) / 4);
    expectRamp(sf);
}

}  // namespace
