#include "WaveHeader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace media::wave {
namespace {

// KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00aa00389b71, as stored.
constexpr uint8_t kSubtypePCM[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr size_t kRiffPreambleBytes = 12;  // "RIFF" size "WAVE"
constexpr size_t kChunkHeadBytes = 8;      // id + 32-bit size
constexpr uint32_t kPcmFormatBytes = 16;
constexpr uint32_t kExtensibleFormatBytes = 40;
static_assert(kLargestHeaderBytes ==
              kRiffPreambleBytes + kReservedChunkBytes + kChunkHeadBytes + kExtensibleFormatBytes + kChunkHeadBytes);

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

uint64_t le(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | p[i];
    return v;
}

// A sound file has a handful of chunks; a walk longer than this is garbage.
constexpr int kMaxChunks = 4096;

std::string number(uint64_t n) { return std::to_string(n); }

// The walk over the chunks of one header, up to and including "data".
class HeaderParse {
public:
    HeaderParse(std::span<const uint8_t> head, uint64_t fileBytes) : head_(head), fileBytes_(fileBytes) {}

    WaveHeaderReading run() {
        if (fileBytes_ < kRiffPreambleBytes || head_.size() < kRiffPreambleBytes)
            return stop(WaveStatus::NotWave, "too short for a WAVE header (" + number(fileBytes_) + " bytes)");
        const std::string_view riff = tag(0);
        out_.description.rf64 = riff == "RF64";
        if ((riff != "RIFF" && riff != "RF64") || tag(8) != "WAVE")
            return stop(WaveStatus::NotWave, "not a RIFF/RF64 WAVE file");
        riffSize_ = le(&head_[4], 4);
        if (!rf64()) checkExtent();

        uint64_t offset = kRiffPreambleBytes;
        for (int chunks = 0; offset < fileBytes_; ++chunks) {
            if (chunks == kMaxChunks) return stop(WaveStatus::NotWave, "more than " + number(kMaxChunks) + " chunks");
            if (fileBytes_ - offset < kChunkHeadBytes)
                return stop(WaveStatus::Incomplete, "the file ends inside a chunk header at byte " + number(offset));
            if (head_.size() - std::min<uint64_t>(offset, head_.size()) < kChunkHeadBytes)
                return stop(WaveStatus::NotWave, "no data chunk in the first " + number(head_.size()) + " bytes");
            const std::string_view id = tag(offset);
            uint64_t size = le(&head_[offset + 4], 4);
            const uint64_t body = offset + kChunkHeadBytes;
            if (rf64() && chunks == 0 && !readDs64(id, size, body)) return out_;
            if (id == "fmt " && !readFormat(size, body)) return out_;
            if (id == "data") {
                if (out_.description.blockAlign == 0)
                    return stop(WaveStatus::NotWave, "data chunk before the fmt chunk");
                if (rf64() && size == kSizeUnknown32) size = ds64DataBytes_;
                out_.description.dataOffset = body;
                out_.description.dataBytes = size;
            }
            if (!fits(id, size, body)) return out_;
            if (id == "data") {
                if (size % out_.description.blockAlign != 0)
                    return stop(WaveStatus::Incomplete, "the data chunk ends inside a frame");
                return stop(WaveStatus::Complete, "");
            }
            offset = body + size + (size & 1);
        }
        if (out_.description.blockAlign == 0) return stop(WaveStatus::NotWave, "no fmt chunk");
        return stop(WaveStatus::Incomplete, "no data chunk");
    }

private:
    bool rf64() const { return out_.description.rf64; }
    std::string_view tag(uint64_t at) const { return {reinterpret_cast<const char*>(&head_[at]), 4}; }
    // Whether `bytes` at `at` are in the head; says why not (file or head too short).
    bool have(uint64_t at, uint64_t bytes, const char* what) {
        if (at + bytes > fileBytes_)
            return fail(WaveStatus::Incomplete, std::string("the file ends inside the ") + what);
        if (at + bytes > head_.size())
            return fail(WaveStatus::NotWave, std::string("the ") + what + " lies past the header");
        return true;
    }
    // Ends the walk. The first problem found stands: a wrong extent is
    // noted and the walk goes on, so the description is filled in.
    WaveHeaderReading& stop(WaveStatus status, std::string problem) {
        if (!out_.problem.empty()) return out_;
        out_.status = status;
        out_.problem = std::move(problem);
        return out_;
    }
    bool fail(WaveStatus status, std::string problem) {
        stop(status, std::move(problem));
        return false;
    }

    // The RIFF size must cover the file exactly: more bytes than it claims
    // means the header was not finished, fewer means the file was cut short.
    void checkExtent() {
        if (riffSize_ + 8 == fileBytes_) return;
        if (riffSize_ + 8 < fileBytes_)
            return (void)stop(WaveStatus::Incomplete, "the header accounts for " + number(riffSize_ + 8) +
                                                          " of the file's " + number(fileBytes_) +
                                                          " bytes (not finished)");
        stop(WaveStatus::Incomplete, "the header claims " + number(riffSize_ + 8) + " bytes but the file has only " +
                                         number(fileBytes_) + " (cut short)");
    }

    bool readDs64(std::string_view id, uint64_t size, uint64_t body) {
        if (id != "ds64" || size < 24) return fail(WaveStatus::NotWave, "RF64 file without a ds64 chunk first");
        if (!have(body, 24, "ds64 chunk")) return false;
        if (riffSize_ != kSizeUnknown32)
            return fail(WaveStatus::NotWave, "RF64 file whose RIFF size is not 0xFFFFFFFF");
        riffSize_ = le(&head_[body], 8);
        ds64DataBytes_ = le(&head_[body + 8], 8);  // the sample count after it is derived, not read
        if (riffSize_ > UINT64_MAX - 8) return fail(WaveStatus::NotWave, "ds64 RIFF size out of range");
        checkExtent();
        return true;
    }

    bool readFormat(uint64_t size, uint64_t body) {
        if (size < kPcmFormatBytes) return fail(WaveStatus::NotWave, "fmt chunk too small");
        if (!have(body, kPcmFormatBytes, "fmt chunk")) return false;
        const uint8_t* f = &head_[body];
        WaveDescription& d = out_.description;
        d.formatTag = d.sampleFormat = static_cast<uint16_t>(le(f, 2));
        d.channels = static_cast<uint16_t>(le(f + 2, 2));
        d.sampleRate = static_cast<uint32_t>(le(f + 4, 4));
        d.blockAlign = static_cast<uint16_t>(le(f + 12, 2));
        d.bitsPerSample = static_cast<uint16_t>(le(f + 14, 2));
        if (d.channels == 0 || d.sampleRate == 0 || d.blockAlign == 0)
            return fail(WaveStatus::NotWave, "fmt chunk with zero channels, rate or block size");
        if (d.formatTag == kFormatTagExtensible) {
            if (size < kExtensibleFormatBytes) return fail(WaveStatus::NotWave, "extensible fmt chunk too small");
            if (!have(body, kExtensibleFormatBytes, "fmt chunk")) return false;
            // The subtype GUID holds a format tag in its first two bytes.
            const bool known = std::memcmp(f + 26, kSubtypePCM + 2, sizeof kSubtypePCM - 2) == 0;
            d.sampleFormat = known ? static_cast<uint16_t>(le(f + 24, 2)) : 0;
        }
        return true;
    }

    // Chunks are padded to even length; compared without overflowing.
    bool fits(std::string_view id, uint64_t size, uint64_t body) {
        const uint64_t room = fileBytes_ - body;
        if (size <= room && ((size & 1) == 0 || size < room)) return true;
        if (id == "data" && size == room)
            return fail(WaveStatus::Incomplete, "the pad byte after the odd-sized data chunk is missing");
        return fail(WaveStatus::Incomplete, "the " + std::string(id) + " chunk claims " + number(size) +
                                                " bytes but only " + number(room) + " follow it");
    }

    std::span<const uint8_t> head_;
    uint64_t fileBytes_;
    uint64_t riffSize_ = 0;
    uint64_t ds64DataBytes_ = 0;
    WaveHeaderReading out_;
};

}  // namespace

bool usesExtensibleFormat(const WaveFormat& format) { return format.channels > 2 || format.bitsPerSample > 16; }

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
    return kRiffPreambleBytes + kReservedChunkBytes + kChunkHeadBytes + formatChunkBytes(format) + kChunkHeadBytes;
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

WaveHeaderReading readHeader(std::span<const uint8_t> head, uint64_t fileBytes) {
    return HeaderParse(head.first(std::min<size_t>(head.size(), fileBytes)), fileBytes).run();
}

}  // namespace media::wave
