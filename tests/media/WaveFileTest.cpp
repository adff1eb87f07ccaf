// The WAVE format both ways: golden header bytes of every form the writer
// makes, read back as written; the reader's verdict on one bad field per case;
// and the file reader on whole files, files cut short and paths that are not
// regular files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <tuple>
#include <vector>

#include "platform/media/wave/FilePass.h"
#include "platform/media/wave/WaveHeader.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace {

using media::WaveFormat;
namespace wave = media::wave;
using wave::WaveStatus;
using Bytes = std::vector<uint8_t>;
using namespace testing_support;

// Sized exactly, so that the sanitizer build sees any write outside the header.
Bytes headerBytes(const WaveFormat& format, uint64_t dataBytes) {
    Bytes out(wave::headerSize(format));
    EXPECT_TRUE(wave::writeHeader(out, format, dataBytes));
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void put(Bytes& b, size_t at, uint64_t v, int width = 4) {
    for (int i = 0; i < width; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t fileBytesFor(const WaveFormat& format, uint64_t dataBytes) {
    return wave::headerSize(format) + dataBytes + (dataBytes & 1);
}

const Bytes kJunk = concat({{'J', 'U', 'N', 'K', 28, 0, 0, 0}, Bytes(28, 0)});                      // room for ds64
const Bytes kStereo16At44100 = {'f',  'm',  't',  ' ', 16, 0, 0,  0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0,  // 44100
                                0x10, 0xB1, 0x02, 0,   4,  0, 16, 0};                               // 176400 B/s

TEST(WaveHeader, GoldenBytesOfEveryFormAreReadBackAsWritten) {
    const struct {
        WaveFormat format;
        uint64_t dataBytes;
        Bytes expected;
    } cases[] = {
        {{44100, 2, 16},
         1000,                                                                // plain PCM
         concat({{'R', 'I', 'F', 'F', 0x30, 0x04, 0, 0, 'W', 'A', 'V', 'E'},  // 80 - 8 + 1000
                 kJunk,
                 kStereo16At44100,
                 {'d', 'a', 't', 'a', 0xE8, 0x03, 0, 0}})},
        {{48000, 6, 24},
         18,  // extensible
         concat({{'R', 'I', 'F', 'F', 114, 0, 0, 0, 'W', 'A', 'V', 'E'},
                 kJunk,
                 {'f',  'm',  't',  ' ',  40,   0,    0,    0,    0xFE, 0xFF, 6,    0,    0x80, 0xBB, 0,    0,  // 48000
                  0x00, 0x2F, 0x0D, 0,    18,   0,    24,   0,  // 864000 B/s
                  22,   0,    24,   0,    0x3F, 0,    0,    0,  // cbSize, valid bits, 5.1 speaker mask
                  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71},
                 {'d', 'a', 't', 'a', 18, 0, 0, 0}})},
        {{44100, 2, 16},
         uint64_t{1} << 32,  // past the RIFF limit: RF64 in place
         concat({{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'd', 's', '6', '4', 28, 0, 0, 0},
                 {0x48, 0, 0, 0, 1, 0, 0, 0},  // RIFF size 2^32 + 72
                 {0, 0, 0, 0, 1, 0, 0, 0},     // data size 2^32
                 {0, 0, 0, 0x40, 0, 0, 0, 0},  // 2^30 frames
                 {0, 0, 0, 0},                 // no table
                 kStereo16At44100,
                 {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.channels);
        EXPECT_EQ(headerBytes(c.format, c.dataBytes), c.expected);
        const auto r = wave::readHeader(c.expected, fileBytesFor(c.format, c.dataBytes));
        ASSERT_EQ(r.status, WaveStatus::Complete) << r.problem;
        const wave::WaveDescription& d = r.description;
        EXPECT_EQ((WaveFormat{d.sampleRate, d.channels, d.bitsPerSample}), c.format);
        EXPECT_EQ(d.sampleFormat, wave::kFormatTagPCM);
        EXPECT_EQ(d.rf64, c.expected[1] == 'F');
        EXPECT_EQ(d.dataOffset, c.expected.size());
        EXPECT_EQ(d.frames(), c.dataBytes / c.format.blockAlign());
    }
}

TEST(WaveHeader, OneBadFieldIsNeverComplete) {
    const WaveFormat plain{44100, 2, 16}, mono8{8000, 1, 8}, wide{48000, 6, 24};
    const uint64_t big = uint64_t{1} << 32;
    const struct {
        WaveFormat format;
        uint64_t dataBytes;
        std::function<void(Bytes&, uint64_t&)> damage;
        WaveStatus status;
        const char* problem;
    } cases[] = {
        {plain, 1000, [](Bytes&, uint64_t& n) { n += 4; }, WaveStatus::Incomplete, "not finished"},
        {plain, 1000, [](Bytes&, uint64_t& n) { n -= 2; }, WaveStatus::Incomplete, "cut short"},
        {plain, 1000, [](Bytes& b, uint64_t&) { b[3] = 'X'; }, WaveStatus::NotWave, "not a RIFF"},
        {plain, 1000, [](Bytes& b, uint64_t&) { b[8] = 'A'; }, WaveStatus::NotWave, "not a RIFF"},
        {plain, 1000, [](Bytes& b, uint64_t&) { put(b, 76, 1002); }, WaveStatus::Incomplete, "data chunk claims 1002"},
        {plain, 1000, [](Bytes& b, uint64_t&) { put(b, 76, 998); }, WaveStatus::Incomplete, "inside a frame"},
        {plain, 1000, [](Bytes& b, uint64_t&) { put(b, 52, 14); }, WaveStatus::NotWave, "too small"},
        {plain, 1000, [](Bytes& b, uint64_t&) { put(b, 58, 0, 2); }, WaveStatus::NotWave, "zero channels"},
        {plain, 1000, [](Bytes& b, uint64_t&) { b[50] = 'x'; }, WaveStatus::NotWave, "before the fmt"},
        {plain, 1000, [](Bytes& b, uint64_t&) { b[75] = 'x'; }, WaveStatus::Incomplete, "no data chunk"},
        {plain, 1000, [](Bytes& b, uint64_t&) { put(b, 16, 0xFFFFFFF0u); }, WaveStatus::Incomplete,
         "JUNK chunk claims"},
        {mono8, 3, [](Bytes& b, uint64_t& n) { put(b, 4, 75), --n; }, WaveStatus::Incomplete, "pad byte"},
        {wide, 180, [](Bytes& b, uint64_t&) { put(b, 52, 16); }, WaveStatus::NotWave, "too small"},
        {plain, big, [](Bytes& b, uint64_t&) { put(b, 20, UINT64_MAX, 8); }, WaveStatus::NotWave, "out of range"},
        {plain, big, [](Bytes& b, uint64_t&) { put(b, 28, UINT64_MAX - 3, 8); }, WaveStatus::Incomplete,
         "data chunk claims"},
        {plain, big, [](Bytes& b, uint64_t&) { b[12] = 'J'; }, WaveStatus::NotWave, "ds64"},
        {plain, 1000, [](Bytes& b, uint64_t&) { b.resize(60); }, WaveStatus::NotWave, "past the header"},
        {plain, 0, [](Bytes&, uint64_t& n) { n = 11; }, WaveStatus::NotWave, "too short"},
    };
    for (const auto& c : cases) {
        Bytes head = headerBytes(c.format, c.dataBytes);
        uint64_t fileBytes = fileBytesFor(c.format, c.dataBytes);
        c.damage(head, fileBytes);
        const auto r = wave::readHeader(head, fileBytes);
        EXPECT_EQ(r.status, c.status) << c.problem;
        EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
    }
    // An extensible subtype that is no known format tag's GUID leaves the sample format unknown.
    Bytes foreign = headerBytes(wide, 180);
    foreign[90] ^= 1;
    EXPECT_EQ(wave::readHeader(foreign, fileBytesFor(wide, 180)).description.sampleFormat, 0);
}

TEST(WaveFileReader, ReadsWholeFramesAcrossBlocksAndOnlyThoseInAFileCutShort) {
    TempDirectory dir;
    std::vector<int32_t> samples{INT32_MIN, INT32_MAX & ~0xFF};
    // Nine-byte frames over more than one read: frames straddle the reads.
    for (uint32_t i = 2; i < 30001 * 3; ++i) samples.push_back(static_cast<int32_t>((i * 0x9E3779B1u) & ~0xFFu));
    ASSERT_TRUE(writeWave(dir / "r.wav", {48000, 3, 24}, samples));
    const WaveReadBack whole = readWave(dir / "r.wav");
    EXPECT_EQ(whole.samples, samples);

    ::truncate((dir / "r.wav").c_str(), static_cast<off_t>(whole.description.dataOffset + 30000 * 9 - 1));
    const WaveReadBack cut = readWave(dir / "r.wav");
    EXPECT_EQ(cut.status, WaveStatus::Incomplete);
    EXPECT_EQ(cut.frames(), 30001u);
    EXPECT_EQ(cut.samples, std::vector<int32_t>(samples.begin(), samples.end() - 2 * 3));
}

// Reads around the page cache give exactly the bytes asked for, fewer only
// at the end of the file, whatever the size's alignment.
TEST(FilePass, DirectReadsGiveTheBytesAskedForUpToTheEnd) {
    TempDirectory dir;
    Bytes bytes(3 * 4096 + 100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    std::ofstream(dir / "f", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const int fd = ::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC);
    wave::FilePass pass(fd, true);
    alignas(4096) static uint8_t out[3 * 4096];
    for (const auto& [offset, size, got] : {std::tuple{4096, 4096 + 10, 4096 + 10}, {8192, 4096 + 200, 4096 + 100}}) {
        ASSERT_EQ(pass.read(out, size, offset), got) << offset;
        EXPECT_TRUE(std::equal(out, out + got, bytes.begin() + offset)) << offset;
    }
    ::close(fd);
}

TEST(WaveFileReader, OpensOnlyARegularFileAndNeverFollowsALink) {
    TempDirectory dir;
    ASSERT_TRUE(writeWave(dir / "real.wav", {48000, 2, 16}, std::vector<int32_t>(20)));
    ASSERT_EQ(::symlink((dir / "real.wav").c_str(), (dir / "link.wav").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);  // must not block waiting for a writer
    const std::tuple<const char*, WaveStatus, const char*> cases[] = {
        {"absent.wav", WaveStatus::Missing, ""},
        {"link.wav", WaveStatus::Unreadable, "symbolic link"},
        {"fifo.wav", WaveStatus::Unreadable, "not a regular file"},
        {"", WaveStatus::Unreadable, "not a regular file"},  // the directory
        {"real.wav", WaveStatus::Complete, ""},
    };
    for (const auto& [name, status, problem] : cases) {
        media::wave::WaveFileReader file(dir / name);
        EXPECT_EQ(file.status(), status) << name;
        EXPECT_NE(file.problem().find(problem), std::string::npos) << file.problem();
        EXPECT_EQ(file.fd() == -1, status != WaveStatus::Complete) << name;
    }
}

}  // namespace
