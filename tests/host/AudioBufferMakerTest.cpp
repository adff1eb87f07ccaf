// The buffers the host delivers: a 16-bit file's codes taken as they are
// give the same bytes as the path through doubles, in every arrangement.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TestSupport.h"
#include "host/scenario/AudioBufferMaker.h"
#include "host/sources/SourceDescription.h"

namespace host {
namespace {

// Passes reads through but never offers codes, so the maker takes the
// path through doubles.
class ValuesOnly final : public AudioSource {
public:
    explicit ValuesOnly(std::unique_ptr<AudioSource> inner) : inner_(std::move(inner)) {}
    size_t read(std::span<double> out, size_t frames, double rate, uint32_t channels) override {
        return inner_->read(out, frames, rate, channels);
    }
    bool finite() const override { return true; }

private:
    std::unique_ptr<AudioSource> inner_;
};

struct Delivered {
    int64_t frames = 0;
    std::vector<std::vector<std::byte>> blocks;
    friend bool operator==(const Delivered&, const Delivered&) = default;
};

std::vector<Delivered> deliverAll(AudioSource& source, const AudioEncoding& encoding) {
    AudioBufferMaker maker;
    std::vector<Delivered> all;
    while (true) {
        const size_t got = maker.make(source, encoding, encoding.framesPerBuffer, kCMTimeZero);
        if (got == 0) break;
        Delivered delivered;
        delivered.frames = maker.buffer().numSamples;
        for (const AudioBuffer& block : maker.buffer().audioBuffers) {
            const auto* bytes = static_cast<const std::byte*>(block.mData);
            delivered.blocks.emplace_back(bytes, bytes + block.mDataByteSize);
        }
        all.push_back(std::move(delivered));
        if (got < encoding.framesPerBuffer) break;
    }
    return all;
}

TEST(AudioBufferMaker, SixteenBitCodesGiveTheSameBuffersAsValues) {
    test::TempDir dir;
    std::mt19937 random(2);
    std::vector<short> codes(5001 * 2);
    for (short& code : codes) code = static_cast<short>(static_cast<int>(random() % 65536) - 32768);
    test::writeWav16(dir.file("in.wav"), 44100, 2, codes);
    const SourceDescription file = parseSourceDescription("file:" + dir.file("in.wav"));

    for (const char* layout : {"s16be", "s16le"}) {
        for (bool planar : {false, true}) {
            SCOPED_TRACE(std::string(layout) + (planar ? " planar" : " interleaved"));
            const AudioEncoding encoding{parseSampleLayout(layout), 44100, 2, 2048, planar};
            auto direct = openSource(file, encoding);
            ASSERT_TRUE(direct->deliversCodes16(44100, 2));
            ValuesOnly viaValues(openSource(file, encoding));
            const std::vector<Delivered> fast = deliverAll(*direct, encoding);
            ASSERT_EQ(fast.size(), 3u);
            EXPECT_EQ(fast.back().frames, 5001 - 2 * 2048);  // a short last buffer
            ASSERT_EQ(fast.back().blocks.size(), planar ? 2u : 1u);
            EXPECT_EQ(fast.back().blocks[0].size(), (5001 - 2 * 2048) * (planar ? 2u : 4u));
            EXPECT_EQ(fast, deliverAll(viaValues, encoding));
        }
    }
}

TEST(AudioBufferMaker, ShortLastPlanarBufferClosesUpItsPlanes) {
    // Three channels of a 24-bit stream from a file that ends mid-buffer.
    test::TempDir dir;
    test::writeWav16(dir.file("in.wav"), 8000, 3, {100, 200, 300, 101, 201, 301});
    auto source = openSource(parseSourceDescription("file:" + dir.file("in.wav")), defaultAppEncoding());
    const AudioEncoding encoding{parseSampleLayout("s24be"), 8000, 3, 10, true};
    AudioBufferMaker maker;
    ASSERT_EQ(maker.make(*source, encoding, 10, kCMTimeZero), 2u);
    const auto& blocks = maker.buffer().audioBuffers;
    ASSERT_EQ(blocks.size(), 3u);
    for (uint32_t channel = 0; channel < 3; ++channel) {
        ASSERT_EQ(blocks[channel].mDataByteSize, 6u);
        const auto* bytes = static_cast<const uint8_t*>(blocks[channel].mData);
        // 16-bit code c becomes the 24-bit code c * 256, big-endian.
        const int expected[] = {100 + 100 * static_cast<int>(channel), 101 + 100 * static_cast<int>(channel)};
        for (int frame = 0; frame < 2; ++frame) {
            EXPECT_EQ(bytes[frame * 3], expected[frame] >> 8);
            EXPECT_EQ(bytes[frame * 3 + 1], expected[frame] & 0xFF);
            EXPECT_EQ(bytes[frame * 3 + 2], 0);
        }
    }
}

}  // namespace
}  // namespace host
