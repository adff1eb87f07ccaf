// The WAVE header both ways: golden bytes of every form the writer makes,
// read back as written, and the reader's verdict on a header with one bad
// field per case.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/media/wave/WaveHeader.h"

namespace {

using media::WaveFormat;
namespace wave = media::wave;
using wave::WaveStatus;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kSentinel = 0xA5;
constexpr size_t kGuard = 16;

// Serialises into a guarded buffer; returns the header bytes and checks the guards.
Bytes headerBytes(const WaveFormat& format, uint64_t dataBytes) {
    const size_t size = wave::headerSize(format);
    Bytes buffer(size + 2 * kGuard, kSentinel);
    EXPECT_TRUE(wave::writeHeader(std::span<uint8_t>(buffer.data() + kGuard, size), format, dataBytes));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + kGuard), Bytes(kGuard, kSentinel)) << "before the header";
    EXPECT_EQ(Bytes(buffer.end() - kGuard, buffer.end()), Bytes(kGuard, kSentinel)) << "after the header";
    return {buffer.begin() + kGuard, buffer.end() - kGuard};
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

// The reserved chunk a plain header keeps for its promotion to RF64.
const Bytes kJunk = concat({{'J', 'U', 'N', 'K', 28, 0, 0, 0}, Bytes(28, 0)});
const Bytes kStereo16At44100 = {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0,  // 44100
                                0x10, 0xB1, 0x02, 0, 4, 0, 16, 0};                              // 176400 B/s

TEST(WaveHeader, GoldenBytesOfEveryFormAreReadBackAsWritten) {
    struct Case {
        const char* name;
        WaveFormat format;
        uint64_t dataBytes;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"16-bit stereo is plain PCM", {44100, 2, 16}, 1000,
         concat({{'R', 'I', 'F', 'F', 0x30, 0x04, 0, 0, 'W', 'A', 'V', 'E'},  // 80 - 8 + 1000
                 kJunk, kStereo16At44100, {'d', 'a', 't', 'a', 0xE8, 0x03, 0, 0}})},
        {"24-bit six channels is extensible", {48000, 6, 24}, 18,
         concat({{'R', 'I', 'F', 'F', 114, 0, 0, 0, 'W', 'A', 'V', 'E'}, kJunk,
                 {'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF, 6, 0, 0x80, 0xBB, 0, 0,  // 48000
                  0x00, 0x2F, 0x0D, 0, 18, 0, 24, 0,                                    // 864000 B/s
                  22, 0, 24, 0, 0x3F, 0, 0, 0,  // cbSize, valid bits, 5.1 speaker mask
                  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71},
                 {'d', 'a', 't', 'a', 18, 0, 0, 0}})},
        {"past the RIFF limit it becomes RF64 in place", {44100, 2, 16}, uint64_t{1} << 32,
         concat({{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'd', 's', '6', '4', 28, 0, 0, 0},
                 {0x48, 0, 0, 0, 1, 0, 0, 0},  // RIFF size 2^32 + 72
                 {0, 0, 0, 0, 1, 0, 0, 0},     // data size 2^32
                 {0, 0, 0, 0x40, 0, 0, 0, 0},  // 2^30 frames
                 {0, 0, 0, 0},                 // no table
                 kStereo16At44100, {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
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
    Bytes small(wave::headerSize({48000, 2, 16}) - 1, kSentinel);
    EXPECT_FALSE(wave::writeHeader(small, {48000, 2, 16}, 0));
    EXPECT_EQ(small, Bytes(small.size(), kSentinel)) << "a missized buffer gets nothing";
}

TEST(WaveHeader, OneBadFieldIsNeverComplete) {
    const WaveFormat plain{44100, 2, 16}, mono8{8000, 1, 8}, wide{48000, 6, 24};
    const uint64_t big = uint64_t{1} << 32;
    struct Case {
        const char* name;
        WaveFormat format;
        uint64_t dataBytes;
        std::function<void(Bytes&, uint64_t&)> damage;
        WaveStatus status;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"bytes after the claimed end", plain, 1000, [](Bytes&, uint64_t& n) { n += 4; }, WaveStatus::Incomplete, "not finished"},
        {"file cut short", plain, 1000, [](Bytes&, uint64_t& n) { n -= 2; }, WaveStatus::Incomplete, "cut short"},
        {"not RIFF", plain, 1000, [](Bytes& b, uint64_t&) { b[3] = 'X'; }, WaveStatus::NotWave, "not a RIFF"},
        {"not WAVE", plain, 1000, [](Bytes& b, uint64_t&) { b[8] = 'A'; }, WaveStatus::NotWave, "not a RIFF"},
        {"data past the end", plain, 1000, [](Bytes& b, uint64_t&) { put(b, 76, 1002); }, WaveStatus::Incomplete, "data chunk claims 1002"},
        {"data of part of a frame", plain, 1000, [](Bytes& b, uint64_t&) { put(b, 76, 998); }, WaveStatus::Incomplete, "inside a frame"},
        {"fmt chunk too small", plain, 1000, [](Bytes& b, uint64_t&) { put(b, 52, 14); }, WaveStatus::NotWave, "too small"},
        {"no channels", plain, 1000, [](Bytes& b, uint64_t&) { put(b, 58, 0, 2); }, WaveStatus::NotWave, "zero channels"},
        {"no fmt chunk", plain, 1000, [](Bytes& b, uint64_t&) { b[50] = 'x'; }, WaveStatus::NotWave, "before the fmt"},
        {"no data chunk", plain, 1000, [](Bytes& b, uint64_t&) { b[75] = 'x'; }, WaveStatus::Incomplete, "no data chunk"},
        {"a chunk past the end", plain, 1000, [](Bytes& b, uint64_t&) { put(b, 16, 0xFFFFFFF0u); }, WaveStatus::Incomplete, "JUNK chunk claims"},
        {"pad byte missing", mono8, 3, [](Bytes& b, uint64_t& n) { put(b, 4, 75), --n; }, WaveStatus::Incomplete, "pad byte"},
        {"extensible fmt chunk too small", wide, 180, [](Bytes& b, uint64_t&) { put(b, 52, 16); }, WaveStatus::NotWave, "too small"},
        {"RF64 cut short", plain, big, [](Bytes&, uint64_t& n) { n -= 2; }, WaveStatus::Incomplete, "cut short"},
        {"RF64 RIFF size out of range", plain, big, [](Bytes& b, uint64_t&) { put(b, 20, UINT64_MAX, 8); }, WaveStatus::NotWave, "out of range"},
        {"RF64 data past the end", plain, big, [](Bytes& b, uint64_t&) { put(b, 28, UINT64_MAX - 3, 8); }, WaveStatus::Incomplete, "data chunk claims"},
        {"RF64 without ds64", plain, big, [](Bytes& b, uint64_t&) { b[12] = 'J'; }, WaveStatus::NotWave, "ds64"},
        {"header beyond the bytes given", plain, 1000, [](Bytes& b, uint64_t&) { b.resize(60); }, WaveStatus::NotWave, "past the header"},
        {"shorter than a header", plain, 0, [](Bytes&, uint64_t& n) { n = 11; }, WaveStatus::NotWave, "too short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes head = headerBytes(c.format, c.dataBytes);
        uint64_t fileBytes = fileBytesFor(c.format, c.dataBytes);
        c.damage(head, fileBytes);
        const auto r = wave::readHeader(head, fileBytes);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.problem.find(c.problem), std::string::npos) << r.problem;
    }
    // A subtype that is not a known format tag's GUID leaves the sample format unknown.
    Bytes foreign = headerBytes(wide, 180);
    foreign[90] ^= 1;
    EXPECT_EQ(wave::readHeader(foreign, fileBytesFor(wide, 180)).description.sampleFormat, 0);
}

}  // namespace
