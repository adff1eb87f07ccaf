// Golden bytes of the WAVE header in its plain, extensible and promoted
// (RF64) forms, written into the middle of a buffer whose guard bytes must survive.

#include <gtest/gtest.h>

#include <vector>

#include "platform/media/wave/WaveHeader.h"

namespace {

using media::WaveFormat;
namespace wave = media::wave;
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

// The reserved chunk a plain header keeps for its promotion to RF64.
const Bytes kJunk = concat({{'J', 'U', 'N', 'K', 28, 0, 0, 0}, Bytes(28, 0)});
const Bytes kStereo16At44100 = {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0,  // 44100
                                0x10, 0xB1, 0x02, 0, 4, 0, 16, 0};                              // 176400 B/s

TEST(WaveHeader, GoldenBytesOfEveryForm) {
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
        {"24-bit six channels is extensible", {48000, 6, 24}, 0,
         concat({{'R', 'I', 'F', 'F', 96, 0, 0, 0, 'W', 'A', 'V', 'E'}, kJunk,
                 {'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF, 6, 0, 0x80, 0xBB, 0, 0,  // 48000
                  0x00, 0x2F, 0x0D, 0, 18, 0, 24, 0,                                    // 864000 B/s
                  22, 0, 24, 0, 0x3F, 0, 0, 0,  // cbSize, valid bits, 5.1 speaker mask
                  0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71},
                 {'d', 'a', 't', 'a', 0, 0, 0, 0}})},
        {"odd data size counts the pad byte in the RIFF size only", {8000, 1, 8}, 3,
         concat({{'R', 'I', 'F', 'F', 76, 0, 0, 0, 'W', 'A', 'V', 'E'}, kJunk,  // 80 - 8 + 3 + 1
                 {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0},
                 {'d', 'a', 't', 'a', 3, 0, 0, 0}})},
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
    }
}

TEST(WaveHeader, PromotionHappensExactlyWhereTheRiffSizeStopsFitting) {
    const WaveFormat format{48000, 2, 16};
    const uint64_t lastPlain = 0xFFFFFFFEull - (wave::headerSize(format) - 8);
    EXPECT_FALSE(wave::needsRF64(format, lastPlain));
    EXPECT_TRUE(wave::needsRF64(format, lastPlain + 1));
    const Bytes plain = headerBytes(format, lastPlain);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 8), (Bytes{'R', 'I', 'F', 'F', 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(headerBytes(format, lastPlain + 1)[1], 'F');

    // The pad byte of odd-sized data counts towards the limit.
    const WaveFormat mono8{8000, 1, 8};
    const uint64_t evenEdge = 0xFFFFFFFEull - (wave::headerSize(mono8) - 8);
    ASSERT_EQ(evenEdge % 2, 0u);
    EXPECT_EQ(wave::riffSizeFor(mono8, evenEdge - 1), 0xFFFFFFFEull);
    EXPECT_FALSE(wave::needsRF64(mono8, evenEdge));
    EXPECT_EQ(wave::riffSizeFor(mono8, evenEdge + 1), 0x100000000ull);
    EXPECT_TRUE(wave::needsRF64(mono8, evenEdge + 1));
}

TEST(WaveHeader, ExtensibleChoiceChannelMasksAndAMissizedBuffer) {
    EXPECT_FALSE(wave::usesExtensibleFormat({48000, 2, 16}));
    EXPECT_FALSE(wave::usesExtensibleFormat({48000, 1, 8}));
    EXPECT_TRUE(wave::usesExtensibleFormat({48000, 2, 24}));
    EXPECT_TRUE(wave::usesExtensibleFormat({48000, 3, 16}));
    const std::vector<std::pair<uint16_t, uint32_t>> masks = {{1, 0x4}, {2, 0x3}, {3, 0}, {4, 0x33}, {5, 0}, {6, 0x3F}, {8, 0x63F}};
    for (const auto& [channels, mask] : masks) EXPECT_EQ(wave::channelMaskFor(channels), mask) << channels;

    const WaveFormat format{48000, 2, 16};
    Bytes small(wave::headerSize(format) - 1, kSentinel);
    EXPECT_FALSE(wave::writeHeader(small, format, 0));
    EXPECT_EQ(small, Bytes(small.size(), kSentinel)) << "nothing written";
}

}  // namespace
