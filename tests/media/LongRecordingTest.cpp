// The file over long recordings and hard endings: promotion to RF64 past the 32-bit limit, checkpoints that keep the
// file readable if the process is killed, and a disk that fills up.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "MediaTestSupport.h"
#include "platform/media/wave/WaveFileWriter.h"
#include "platform/media/wave/WaveHeader.h"

namespace {

using namespace mediatest;
using media::WaveFileWriter;
using media::WaveFormat;

// A file in memory that outlives the writer; the disk is full at `fullAt` bytes.
class MemorySink final : public media::ByteSink {
public:
    explicit MemorySink(std::vector<uint8_t>& bytes, uint64_t fullAt = UINT64_MAX) : bytes_(bytes), fullAt_(fullAt) {}
    media::SinkResult writeAt(uint64_t offset, const void* data, size_t size) override {
        const size_t room = offset >= fullAt_ ? 0 : static_cast<size_t>(std::min<uint64_t>(size, fullAt_ - offset));
        if (bytes_.size() < offset + room) bytes_.resize(offset + room);
        std::memcpy(bytes_.data() + offset, data, room);
        return {room, room < size ? ENOSPC : 0};
    }
    int truncate(uint64_t size) override { return bytes_.resize(size), 0; }
    int close() override { return 0; }

private:
    std::vector<uint8_t>& bytes_;
    uint64_t fullAt_;
};

// Writes the first page (the header) and the bytes from `keepFrom` on into a real file, and drops the rest, which stays
// a hole: 4 GiB cost no disk.
class SparseSink final : public media::ByteSink {
public:
    SparseSink(int fd, uint64_t keepFrom) : file_(fd), keepFrom_(keepFrom) {}
    media::SinkResult writeAt(uint64_t offset, const void* data, size_t size) override {
        if (offset >= 4096 && offset + size <= keepFrom_) return {size, 0};
        return file_.writeAt(offset, data, size);
    }
    int truncate(uint64_t size) override { return file_.truncate(size); }
    int close() override { return file_.close(); }

private:
    media::FileDescriptorSink file_;
    uint64_t keepFrom_;
};

// The most 4-byte frames a plain RIFF file holds, then one more.
class FourGigabytes : public testing::TestWithParam<uint64_t> {};

TEST_P(FourGigabytes, CrossingThemPromotesToRF64ThatReadersOpen) {
    TempDirectory dir;
    const std::string path = dir / "long.wav";
    const WaveFormat format{48000, 2, 16};
    const size_t header = media::wave::headerSize(format);
    const uint64_t frames = (0xFFFFFFFEull - (header - 8)) / 4 + GetParam(), dataBytes = frames * 4;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    WaveFileWriter file(std::make_unique<SparseSink>(fd, dataBytes - (1 << 20)));
    ASSERT_TRUE(file.begin(format));
    for (uint64_t done = 0; done < frames;) {
        const uint64_t n = std::min<uint64_t>(frames - done, file.maxReservationBytes() / 4);
        uint8_t* dst = file.reserve(n * 4);
        ASSERT_NE(dst, nullptr);
        if (done == 0 || (done + n) * 4 > dataBytes - (2 << 20)) std::memset(dst, 0x22, n * 4);  // the bytes kept
        ASSERT_TRUE(file.commit(n));
        done += n;
    }
    ASSERT_TRUE(file.finish());

    EXPECT_EQ(std::filesystem::file_size(path), header + dataBytes);
    // At the limit the file is still plain RIFF; its sizes are the readers' to check.
    const auto head = readPrefix(path, 4);
    EXPECT_EQ(std::string(head.begin(), head.end()), GetParam() > 0 ? "RF64" : "RIFF");
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), frames);
    ASSERT_EQ(sf_seek(f, info.frames - 1, SEEK_SET), info.frames - 1);
    short last[2] = {0, 0};
    EXPECT_EQ(sf_readf_short(f, last, 1), 1);
    EXPECT_EQ(last[0], 0x2222);
    sf_close(f);
    if (std::system("command -v sox >/dev/null 2>&1") != 0) return;
    FILE* p = ::popen(("sox --i -s '" + path + "' 2>/dev/null").c_str(), "r");
    char line[64] = {};
    EXPECT_NE(std::fgets(line, sizeof line, p), nullptr);
    ::pclose(p);
    EXPECT_EQ(std::strtoull(line, nullptr, 10), frames) << "sox reads the frame count";
}
INSTANTIATE_TEST_SUITE_P(LongRecordings, FourGigabytes, testing::Values(0, 1));

// 24-bit mono: 3-byte frames never end on a write unit's boundary, and an odd frame count makes the checkpoints'
// claimed sizes odd.
TEST(LongRecordings, CheckpointsThatHoldBackAPartialUnitLoseAndCorruptNothing) {
    std::vector<uint8_t> bytes, expected;
    WaveFileWriter file(std::make_unique<MemorySink>(bytes));
    const WaveFormat format{44100, 1, 24};
    ASSERT_TRUE(file.begin(format));
    const long header = static_cast<long>(media::wave::headerSize(format));
    for (int i = 0; i < 301; ++i) {  // 301 buffers of 1,001 frames: about 6.8 seconds
        uint8_t* dst = file.reserve(3 * 1001);
        ASSERT_NE(dst, nullptr);
        for (size_t b = 0; b < 3 * 1001; ++b)
            expected.push_back(dst[b] = static_cast<uint8_t>(expected.size() * 7 + 1));
        ASSERT_TRUE(file.commit(1001));
        const uint64_t claimed = le(bytes, header - 4);
        EXPECT_EQ(claimed % 3, 0u) << "the header claims whole frames only";
        EXPECT_LT(expected.size() - claimed, 3u * 44100) << "the header follows the data at least every second";
        ASSERT_LE(header + claimed, bytes.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + static_cast<long>(claimed), bytes.begin() + header))
            << "what the header claims is exactly what was appended";
    }
    ASSERT_TRUE(file.finish());
    ASSERT_EQ(le(bytes, header - 4), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + header));
    EXPECT_EQ(bytes.size(), header + expected.size() + (expected.size() & 1));
}

// Whatever the point where the disk fills, the file keeps whole frames (and drops a frame rather than the pad byte)
// under a header that matches them.
struct DiskFullCase {
    WaveFormat format;
    size_t bufferBytes;
    uint64_t failAt;
};
class DiskFull : public testing::TestWithParam<DiskFullCase> {};

TEST_P(DiskFull, MidWriteKeepsWholeFramesAndAValidHeader) {
    const DiskFullCase c = GetParam();
    std::vector<uint8_t> bytes;
    WaveFileWriter file(std::make_unique<MemorySink>(bytes, c.failAt), WaveFileWriter::Options{c.bufferBytes});
    ASSERT_TRUE(file.begin(c.format));
    const size_t frameBytes = c.format.blockAlign();
    const size_t chunk = std::min<size_t>(16, c.bufferBytes / frameBytes);  // frames per append
    for (int i = 0; i < 100; ++i) {
        uint8_t* dst = file.reserve(frameBytes * chunk);
        if (dst == nullptr) break;
        std::memset(dst, i, frameBytes * chunk);
        if (!file.commit(chunk)) break;
    }
    EXPECT_EQ(file.errorNumber(), ENOSPC);
    EXPECT_EQ(file.reserve(frameBytes), nullptr);
    EXPECT_FALSE(file.finish());
    const size_t header = media::wave::headerSize(c.format);
    const uint64_t data = le(bytes, header - 4), oneMore = data + frameBytes;
    EXPECT_EQ(data % frameBytes, 0u);
    EXPECT_EQ(bytes.size(), header + data + (data & 1));
    EXPECT_LE(bytes.size(), c.failAt);
    EXPECT_GT(header + oneMore + (oneMore & 1), c.failAt) << "a whole frame more would have fitted";
    EXPECT_EQ(le(bytes, 4), header - 8 + data + (data & 1));
}
INSTANTIATE_TEST_SUITE_P(LongRecordings, DiskFull,
                         testing::Values(DiskFullCase{{48000, 2, 16}, 256, 1000},
                                         DiskFullCase{{48000, 2, 16}, 256, 1001},
                                         DiskFullCase{{48000, 2, 16}, 256, 80 + 4 * 300 + 3},
                                         // room for five frames but not for the pad byte
                                         DiskFullCase{{8000, 1, 24}, 3, 104 + 3 * 5}));

}  // namespace
