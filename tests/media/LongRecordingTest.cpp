// The file over long recordings and hard endings: promotion to RF64 past the
// 32-bit limit, a process killed mid-recording, and a disk that fills up.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdio>
#include <map>

#include "MediaTestSupport.h"
#include "platform/media/wave/WaveFileWriter.h"
#include "platform/media/wave/WaveHeader.h"

namespace {

using namespace mediatest;
using media::WaveFileWriter;
using media::WaveFormat;

// A file in memory that outlives the sink writing it.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t failAtOrBeyond = UINT64_MAX;  // a full disk at this file size
};

class MemorySink final : public media::ByteSink {
public:
    explicit MemorySink(MemoryFile& file) : file_(file) {}

    media::SinkResult writeAt(uint64_t offset, const void* data, size_t size) override {
        std::vector<uint8_t>& bytes = file_.bytes;
        const uint64_t failAtOrBeyond = file_.failAtOrBeyond;
        media::SinkResult r;
        size_t room = size;
        if (offset + size > failAtOrBeyond) {
            room = offset >= failAtOrBeyond ? 0 : static_cast<size_t>(failAtOrBeyond - offset);
            r.error = ENOSPC;
        }
        if (bytes.size() < offset + room) bytes.resize(offset + room);
        std::memcpy(bytes.data() + offset, data, room);
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

bool appendRamp(AVAssetWriterInput& input, uint64_t firstFrame, int64_t frames) {
    std::vector<int16_t> data(static_cast<size_t>(frames) * 2);
    for (int64_t f = 0; f < frames; ++f) data[2 * f] = data[2 * f + 1] = rampAt(firstFrame + static_cast<uint64_t>(f));
    OwnedBuffer b = audioBuffer(makeLinearPCMDescription(48000, 2, 16, kAudioFormatFlagIsSignedInteger), frames, {bytesOf(data)});
    return input.appendSampleBuffer(b.ref());
}

void expectRamp(const SoundFile& sf) {
    for (int64_t f = 0; f < sf.info.frames; ++f) {
        ASSERT_EQ(sf.samples[2 * f] >> 16, rampAt(static_cast<uint64_t>(f))) << "frame " << f;
        ASSERT_EQ(sf.samples[2 * f + 1] >> 16, rampAt(static_cast<uint64_t>(f))) << "frame " << f;
    }
}

TEST(LongRecordings, CrossingFourGigabytesPromotesToRF64ThatReadersOpen) {
    TempDir dir;
    const WaveFormat format{48000, 2, 16};
    // The most 4-byte frames a plain RIFF file holds.
    const uint64_t plainFrames = (0xFFFFFFFEull - (media::wave::headerSize(format) - 8)) / 4;
    const std::string path = dir.file("long.wav");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    WaveFileWriter::Options options;
    options.initialDataBytes = (plainFrames - 1000) * 4;  // 1,000 frames below the limit: a sparse file
    WaveFileWriter file(std::make_unique<media::FileDescriptorSink>(fd), options);
    ASSERT_TRUE(file.begin(format));

    auto commitFrames = [&](size_t frames) {
        uint8_t* dst = file.reserve(frames * 4);
        ASSERT_NE(dst, nullptr);
        std::memset(dst, 0x11, frames * 4);
        ASSERT_TRUE(file.commit(frames));
    };
    commitFrames(999);
    commitFrames(1);  // exactly at the limit: still plain RIFF
    ASSERT_TRUE(file.finish());
    const std::vector<uint8_t> head = readPrefix(path, 80);
    ASSERT_EQ(head.size(), 80u);
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RIFF");
    EXPECT_EQ(le32(head, 4), 72 + plainFrames * 4);
    EXPECT_EQ(le32(head, 76), plainFrames * 4);
    EXPECT_EQ(std::string(head.begin() + 12, head.begin() + 16), "JUNK");

    // The same file, a frame further, is RF64.
    const std::string path2 = dir.file("longer.wav");
    const int fd2 = ::open(path2.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    WaveFileWriter file2(std::make_unique<media::FileDescriptorSink>(fd2), options);
    ASSERT_TRUE(file2.begin(format));
    for (int i = 0; i < 1001; ++i) {
        uint8_t* dst = file2.reserve(4);
        ASSERT_NE(dst, nullptr);
        std::memset(dst, 0x22, 4);
        ASSERT_TRUE(file2.commit(1));
    }
    ASSERT_TRUE(file2.finish());
    const std::vector<uint8_t> head2 = readPrefix(path2, 80);
    const uint64_t dataBytes = (plainFrames + 1) * 4;
    ASSERT_EQ(head2.size(), 80u);
    struct stat st{};
    ASSERT_EQ(::stat(path2.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 80 + dataBytes);
    EXPECT_EQ(std::string(head2.begin(), head2.begin() + 4), "RF64");
    EXPECT_EQ(le32(head2, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(head2.begin() + 12, head2.begin() + 16), "ds64");
    EXPECT_EQ(le64(head2, 20), 72 + dataBytes);
    EXPECT_EQ(le64(head2, 28), dataBytes);
    EXPECT_EQ(le64(head2, 36), dataBytes / 4);
    EXPECT_EQ(le32(head2, 76), 0xFFFFFFFFu);

    SF_INFO info{};
    SNDFILE* f = sf_open(path2.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), dataBytes / 4);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    ASSERT_EQ(sf_seek(f, info.frames - 1, SEEK_SET), info.frames - 1);
    short last[2] = {0, 0};
    EXPECT_EQ(sf_readf_short(f, last, 1), 1);
    EXPECT_EQ(last[0], 0x2222);
    sf_close(f);

    if (std::system("command -v sox >/dev/null 2>&1") == 0) {
        const std::string cmd = "sox --i -s '" + path2 + "' 2>/dev/null";
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[64] = {};
        ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
        ::pclose(p);
        EXPECT_EQ(std::stoull(line), dataBytes / 4) << "sox reads the ds64 frame count";
    }
}

TEST(LongRecordings, TheHeaderFollowsTheDataAtLeastEverySecond) {
    MemoryFile memory;
    MemoryFile* mem = &memory;
    WaveFileWriter file(std::make_unique<MemorySink>(memory));
    const WaveFormat format{8000, 1, 8};
    ASSERT_TRUE(file.begin(format));
    const size_t header = media::wave::headerSize(format);
    uint64_t committed = 0;
    for (int i = 0; i < 37; ++i) {  // 37 buffers of 777 frames: about 3.6 seconds
        uint8_t* dst = file.reserve(777);
        ASSERT_NE(dst, nullptr);
        std::memset(dst, 0x80, 777);
        ASSERT_TRUE(file.commit(777));
        committed += 777;
        // What the file says about its size never runs more than a second behind.
        const uint32_t claimed = le32(mem->bytes, header - 4);
        EXPECT_LT(committed - claimed, 8000u) << i;
        EXPECT_LE(claimed, mem->bytes.size() - header) << "the header never claims unwritten data";
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
        const uint32_t claimed = le32(memory.bytes, header - 4);
        EXPECT_EQ(claimed % 3, 0u) << "the header claims whole frames only";
        EXPECT_LT(expected.size() - claimed, 3u * 44100) << "never a second behind";
        ASSERT_LE(header + claimed, memory.bytes.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + claimed, memory.bytes.begin() + header))
            << "what the header claims is exactly what was appended";
    }
    ASSERT_TRUE(file.finish());
    ASSERT_EQ(le32(memory.bytes, header - 4), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), memory.bytes.begin() + header));
    EXPECT_EQ(memory.bytes.size(), header + expected.size() + (expected.size() & 1));
}

TEST(LongRecordings, ADiskFullMidWriteKeepsWholeFramesAndAValidHeader) {
    for (uint64_t failAt : {uint64_t{1000}, uint64_t{1001}, uint64_t{80 + 4 * 300 + 3}}) {
        SCOPED_TRACE(failAt);
        MemoryFile memory;
        MemoryFile* mem = &memory;
        mem->failAtOrBeyond = failAt;
        WaveFileWriter::Options small;
        small.bufferBytes = 256;
        WaveFileWriter file(std::make_unique<MemorySink>(memory), small);
        const WaveFormat format{48000, 2, 16};
        ASSERT_TRUE(file.begin(format));
        bool failed = false;
        for (int i = 0; i < 100 && !failed; ++i) {
            uint8_t* dst = file.reserve(64);
            if (dst == nullptr) {
                failed = true;
                break;
            }
            std::memset(dst, i, 64);
            failed = !file.commit(16);
        }
        ASSERT_TRUE(failed || file.hasFailed());
        EXPECT_EQ(file.errorNumber(), ENOSPC);
        EXPECT_EQ(file.reserve(4), nullptr);
        EXPECT_FALSE(file.finish());
        const uint64_t data = mem->bytes.size() - 80;
        EXPECT_EQ(data % 4, 0u);
        EXPECT_LE(mem->bytes.size(), failAt);
        EXPECT_EQ(le32(mem->bytes, 76), data);
        EXPECT_EQ(le32(mem->bytes, 4), 72 + data);
        EXPECT_EQ(file.frameCount(), data / 4);
    }
}

TEST(LongRecordings, AFullDiskWithOddFramesDropsAFrameRatherThanThePad) {
    MemoryFile memory;
    MemoryFile* mem = &memory;
    const WaveFormat format{8000, 1, 24};  // 3-byte frames, 104-byte extensible header
    mem->failAtOrBeyond = 104 + 3 * 5;     // room for five frames, none for a pad byte
    WaveFileWriter::Options tiny;
    tiny.bufferBytes = 3;
    WaveFileWriter file(std::make_unique<MemorySink>(memory), tiny);
    ASSERT_TRUE(file.begin(format));
    for (int i = 0; i < 10; ++i) {
        uint8_t* dst = file.reserve(3);
        if (dst == nullptr) break;
        std::memset(dst, 0x33, 3);
        if (!file.commit(1)) break;
    }
    EXPECT_TRUE(file.hasFailed());
    EXPECT_FALSE(file.finish());
    ASSERT_EQ(mem->bytes.size(), 104u + 12);
    EXPECT_EQ(le32(mem->bytes, 100), 12u);
    EXPECT_EQ(le32(mem->bytes, 4), 96u + 12);
    EXPECT_EQ(file.frameCount(), 4u);
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
    TempDir dir;
    const std::string path = dir.file("killed.wav");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    constexpr int64_t kFrames = 48000 * 3 + 12345;  // 3.26 seconds
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(ready[0]);
        Recording r = startRecording(path, 48000, 16, 2);
        for (int64_t at = 0; at < kFrames; at += 1024) appendRamp(*r.input, static_cast<uint64_t>(at), std::min<int64_t>(1024, kFrames - at));
        const char byte = 1;
        (void)!::write(ready[1], &byte, 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_GE(sf.info.frames, kFrames - 48000);
    EXPECT_LE(sf.info.frames, kFrames);
    expectRamp(sf);
}

TEST(HardEndings, AFileSizeLimitStopsTheWriterWithDiskFull) {
    TempDir dir;
    const std::string path = dir.file("limited.wav");
    constexpr rlim_t kLimit = 100000 + 2;  // not a whole number of frames after the header
    const int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{kLimit, kLimit};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) ::_exit(10);
        Recording r = startRecording(path, 48000, 16, 2);
        if (!r.writer) ::_exit(11);
        uint64_t at = 0;
        bool refused = false;
        for (int i = 0; i < 200 && !refused; ++i, at += 1024) refused = !appendRamp(*r.input, at, 1024);
        if (!refused) ::_exit(12);
        if (r.writer->status() != AVAssetWriterStatus::Failed) ::_exit(13);
        if (!r.writer->error() || r.writer->error()->code() != AVErrorDiskFull) ::_exit(14);
        if (r.writer->error()->userInfoValue(NSFilePathErrorKey) != path) ::_exit(15);
        if (appendRamp(*r.input, at, 1024)) ::_exit(16);  // later appends do nothing
        if (r.writer->finishWriting()) ::_exit(17);
        if (r.writer->finishWriting()) ::_exit(18);
        if (r.writer->writtenFrameCount() != (100000 - 80) / 4) ::_exit(19);
    });
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 100000);  // whole frames only
    const SoundFile sf = readSoundFile(path);
    ASSERT_TRUE(sf.opened);
    EXPECT_EQ(sf.info.frames, (100000 - 80) / 4);
    expectRamp(sf);
}

}  // namespace
