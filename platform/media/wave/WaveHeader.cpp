#include "WaveHeader.h"

#include <cstring>

namespace media::wave {
namespace {

// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71, as stored.
constexpr uint8_t kSubtypePCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr size_t kRiffPreambleBytes = 12;  // "RIFF" size "WAVE"
constexpr size_t kChunkHeadBytes = 8;      // id + 32-bit size
constexpr uint32_t kPcmFormatBytes = 16;
constexpr uint32_t kExtensibleFormatBytes = 40;

// Little-endian field writer over a fixed span; the caller sizes the span.
class ByteWriter {
public:
    explicit ByteWriter(std::span<uint8_t> out) : out_(out) {}
    void tag(const char (&id)[5]) { bytes(id, 4); }
    void u16(uint16_t v) { le(v, 2); }
    void u32(uint32_t v) { le(v, 4); }
    void u64(uint64_t v) { le(v, 8); }
    void bytes(const void* src, size_t n) {
        std::memcpy(out_.data() + pos_, src, n);
        pos_ += n;
    }
    void zeros(size_t n) {
        std::memset(out_.data() + pos_, 0, n);
        pos_ += n;
    }
    size_t position() const { return pos_; }

private:
    void le(uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i) out_[pos_ + i] = static_cast<uint8_t>(v >> (8 * i));
        pos_ += n;
    }
    std::span<uint8_t> out_;
    size_t pos_ = 0;
};

uint32_t formatChunkBytes(const WaveFormat& format) {
    return usesExtensibleFormat(format) ? kExtensibleFormatBytes : kPcmFormatBytes;
}

}  // namespace

bool usesExtensibleFormat(const WaveFormat& format) {
    return format.channels > 2 || format.bitsPerSample > 16;
}

uint32_t channelMaskFor(uint16_t channels) {
    switch (channels) {
        case 1: return 0x4;
        case 2: return 0x3;
        case 4: return 0x33;
        case 6: return 0x3F;
        case 8: return 0x63F;
        default: return 0;
    }
}

size_t headerSize(const WaveFormat& format) {
    return kRiffPreambleBytes + kReservedChunkBytes + kChunkHeadBytes + formatChunkBytes(format) +
           kChunkHeadBytes;
}

uint64_t riffSizeFor(const WaveFormat& format, uint64_t dataBytes) {
    // headerSize is small and dataBytes is bounded by the file system, far
    // below 2^63, so this sum cannot wrap.
    return headerSize(format) - 8 + dataBytes + (dataBytes & 1u);
}

bool needsRF64(const WaveFormat& format, uint64_t dataBytes) {
    // 0xFFFFFFFF itself is kept for "unknown" so a plain RIFF file never uses it.
    return riffSizeFor(format, dataBytes) >= kSizeUnknown32;
}

bool writeHeader(std::span<uint8_t> out, const WaveFormat& format, uint64_t dataBytes) {
    if (out.size() != headerSize(format) || format.blockAlign() == 0) return false;
    const bool rf64 = needsRF64(format, dataBytes);
    const uint64_t riffSize = riffSizeFor(format, dataBytes);
    const bool extensible = usesExtensibleFormat(format);

    ByteWriter w(out);
    w.tag(rf64 ? "RF64" : "RIFF");
    w.u32(rf64 ? kSizeUnknown32 : static_cast<uint32_t>(riffSize));
    w.tag("WAVE");

    w.tag(rf64 ? "ds64" : "JUNK");
    w.u32(static_cast<uint32_t>(kReservedChunkBytes - kChunkHeadBytes));
    if (rf64) {
        w.u64(riffSize);
        w.u64(dataBytes);
        w.u64(dataBytes / format.blockAlign());
        w.u32(0);  // no table entries
    } else {
        w.zeros(kReservedChunkBytes - kChunkHeadBytes);
    }

    w.tag("fmt ");
    w.u32(formatChunkBytes(format));
    w.u16(extensible ? kFormatTagExtensible : kFormatTagPCM);
    w.u16(format.channels);
    w.u32(format.sampleRate);
    w.u32(static_cast<uint32_t>(format.bytesPerSecond()));
    w.u16(static_cast<uint16_t>(format.blockAlign()));
    w.u16(format.bitsPerSample);
    if (extensible) {
        w.u16(22);                    // cbSize
        w.u16(format.bitsPerSample);  // valid bits: every container bit carries audio
        w.u32(channelMaskFor(format.channels));
        w.bytes(kSubtypePCM, sizeof kSubtypePCM);
    }

    w.tag("data");
    w.u32(rf64 ? kSizeUnknown32 : static_cast<uint32_t>(dataBytes));
    return w.position() == out.size();
}

}  // namespace media::wave
