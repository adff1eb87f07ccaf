// Golden bytes of the WAVE header in its plain and promoted (RF64) forms,
// written into the middle of a buffer whose sentinel bytes must survive.

#include <gtest/gtest.h>

#include <vector>

#include "platform/media/wave/WaveHeader.h"

namespace {

using media::WaveFormat;
namespace wave = media::wave;

constexpr uint8_t kSentinel = 0xA5;
constexpr size_t kGuard = 16;

// Serialises into a guarded buffer; returns the header bytes and checks the guards.
std::vector<uint8_t> headerBytes(const WaveFormat& format, uint64_t dataBytes) {
    const size_t size = wave::headerSize(format);
    std::vector<uint8_t> buffer(size + 2 * kGuard, kSentinel);
    EXPECT_TRUE(wave::writeHeader(std::span<uint8_t>(buffer.data() + kGuard, size), format, dataBytes));
    for (size_t i = 0; i < kGuard; ++i) {
        EXPECT_EQ(buffer[i], kSentinel) << "before the header at " << i;
        EXPECT_EQ(buffer[kGuard + size + i], kSentinel) << "after the header at " << i;
    }
    return {buffer.begin() + kGuard, buffer.begin() + kGuard + static_cast<long>(size)};
}

// Header bytes written piece by piece; the reserved chunk is a marker.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes& raw(std::initializer_list<int> bytes) {
        for (int b : bytes) v.push_back(static_cast<uint8_t>(b));
        return *this;
    }
    Bytes& junk() {
        raw({'J', 'U', 'N', 'K', 28, 0, 0, 0});
        for (int i = 0; i < 28; ++i) v.push_back(0);
        return *this;
    }
};

TEST(WaveHeader, SixteenBitStereoIsPlainPcm) {
    Bytes expected;
    expected.raw({'R', 'I', 'F', 'F', 0x30, 0x04, 0, 0, 'W', 'A', 'V', 'E'})  // 80 - 8 + 1000
        .junk()
        .raw({'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0})
        .raw({0x44, 0xAC, 0, 0})     // 44100
        .raw({0x10, 0xB1, 0x02, 0})  // 176400 bytes per second
        .raw({4, 0, 16, 0})
        .raw({'d', 'a', 't', 'a', 0xE8, 0x03, 0, 0});
    EXPECT_EQ(headerBytes({44100, 2, 16}, 1000), expected.v);
}

TEST(WaveHeader, TwentyFourBitSixChannelsIsExtensible) {
    Bytes expected;
    expected.raw({'R', 'I', 'F', 'F', 96, 0, 0, 0, 'W', 'A', 'V', 'E'})
        .junk()
        .raw({'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF, 6, 0})
        .raw({0x80, 0xBB, 0, 0})     // 48000
        .raw({0x00, 0x2F, 0x0D, 0})  // 864000 bytes per second
        .raw({18, 0, 24, 0})
        .raw({22, 0, 24, 0})         // cbSize, valid bits
        .raw({0x3F, 0, 0, 0})        // 5.1 speaker mask
        .raw({0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        .raw({'d', 'a', 't', 'a', 0, 0, 0, 0});
    EXPECT_EQ(headerBytes({48000, 6, 24}, 0), expected.v);
}

TEST(WaveHeader, OddDataSizeCountsThePadByteInRiffSizeOnly) {
    Bytes expected;
    expected.raw({'R', 'I', 'F', 'F', 76, 0, 0, 0, 'W', 'A', 'V', 'E'})  // 80 - 8 + 3 + 1 pad
        .junk()
        .raw({'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0})
        .raw({'d', 'a', 't', 'a', 3, 0, 0, 0});
    EXPECT_EQ(headerBytes({8000, 1, 8}, 3), expected.v);
}

TEST(WaveHeader, PastTheRiffLimitBecomesRF64InPlace) {
    Bytes expected;
    expected.raw({'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'})
        .raw({'d', 's', '6', '4', 28, 0, 0, 0})
        .raw({0x48, 0, 0, 0, 1, 0, 0, 0})  // RIFF size 2^32 + 72
        .raw({0, 0, 0, 0, 1, 0, 0, 0})     // data size 2^32
        .raw({0, 0, 0, 0x40, 0, 0, 0, 0})  // 2^30 frames
        .raw({0, 0, 0, 0})                 // no table
        .raw({'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0})
        .raw({'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(headerBytes({44100, 2, 16}, uint64_t{1} << 32), expected.v);
}

TEST(WaveHeader, PromotionHappensExactlyWhereTheRiffSizeStopsFitting) {
    const WaveFormat format{48000, 2, 16};
    const uint64_t lastPlain = 0xFFFFFFFEull - (wave::headerSize(format) - 8);
    EXPECT_FALSE(wave::needsRF64(format, lastPlain));
    EXPECT_TRUE(wave::needsRF64(format, lastPlain + 1));
    const auto plain = headerBytes(format, lastPlain);
    EXPECT_EQ(plain[0], 'R');
    EXPECT_EQ(plain[4] | plain[5] << 8 | plain[6] << 16 | uint32_t{plain[7]} << 24, 0xFFFFFFFEu);
    EXPECT_EQ(headerBytes(format, lastPlain + 1)[1], 'F');

    // The pad byte of odd-sized data counts towards the limit.
    const WaveFormat mono8{8000, 1, 8};
    const uint64_t evenEdge = 0xFFFFFFFEull - (wave::headerSize(mono8) - 8);
    ASSERT_EQ(evenEdge % 2, 0u);
    EXPECT_EQ(wave::riffSizeFor(mono8, evenEdge - 1), 0xFFFFFFFEull);
    EXPECT_FALSE(wave::needsRF64(mono8, evenEdge - 1));
    EXPECT_FALSE(wave::needsRF64(mono8, evenEdge));
    EXPECT_EQ(wave::riffSizeFor(mono8, evenEdge + 1), 0x100000000ull);
    EXPECT_TRUE(wave::needsRF64(mono8, evenEdge + 1));
}

TEST(WaveHeader, ExtensibleChoiceAndChannelMasks) {
    EXPECT_FALSE(wave::usesExtensibleFormat({48000, 2, 16}));
    EXPECT_FALSE(wave::usesExtensibleFormat({48000, 1, 8}));
    EXPECT_TRUE(wave::usesExtensibleFormat({48000, 2, 24}));
    EXPECT_TRUE(wave::usesExtensibleFormat({48000, 3, 16}));
    EXPECT_EQ(wave::channelMaskFor(1), 0x4u);
    EXPECT_EQ(wave::channelMaskFor(2), 0x3u);
    EXPECT_EQ(wave::channelMaskFor(4), 0x33u);
    EXPECT_EQ(wave::channelMaskFor(6), 0x3Fu);
    EXPECT_EQ(wave::channelMaskFor(8), 0x63Fu);
    EXPECT_EQ(wave::channelMaskFor(3), 0u);
    EXPECT_EQ(wave::channelMaskFor(5), 0u);
}

TEST(WaveHeader, RefusesAMissizedBufferWithoutWriting) {
    const WaveFormat format{48000, 2, 16};
    std::vector<uint8_t> small(wave::headerSize(format) - 1, kSentinel);
    EXPECT_FALSE(wave::writeHeader(small, format, 0));
    for (uint8_t b : small) EXPECT_EQ(b, kSentinel);
}

}  // namespace
