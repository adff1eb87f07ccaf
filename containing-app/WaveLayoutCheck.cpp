#include "WaveLayoutCheck.h"

#include <cstring>

namespace containing_app {

namespace {

constexpr uint32_t kSizeUnknown32 = 0xFFFFFFFFu;
// A sound file has a handful of chunks; a walk longer than this is garbage.
constexpr int kMaxChunks = 4096;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

bool readExactly(const ReadAt& read, uint64_t offset, void* out, size_t size) {
    return read(offset, out, size) == static_cast<long>(size);
}

WaveLayout incomplete(WaveLayout layout, std::string problem) {
    layout.verdict = WaveLayout::Verdict::Incomplete;
    layout.problem = std::move(problem);
    return layout;
}

WaveLayout notWave(std::string problem) {
    WaveLayout layout;
    layout.problem = std::move(problem);
    return layout;
}

}  // namespace

WaveLayout checkWaveLayout(const ReadAt& read, uint64_t fileSize) {
    uint8_t head[12];
    if (fileSize < sizeof head || !readExactly(read, 0, head, sizeof head))
        return notWave("too short for a WAVE header (" + std::to_string(fileSize) + " bytes)");
    const bool riff = std::memcmp(head, "RIFF", 4) == 0;
    const bool rf64 = std::memcmp(head, "RF64", 4) == 0;
    if ((!riff && !rf64) || std::memcmp(head + 8, "WAVE", 4) != 0) return notWave("not a RIFF/RF64 WAVE file");

    WaveLayout layout;
    layout.rf64 = rf64;
    uint64_t riffSize = le32(head + 4);
    uint64_t ds64DataSize = 0;
    bool haveFormat = false;
    bool haveData = false;

    // The RIFF size must cover the file exactly: more bytes than it claims
    // means the header was not finished, fewer means the file was cut short.
    auto extentProblem = [&]() -> std::string {
        if (riffSize + 8 == fileSize) return {};
        if (riffSize + 8 < fileSize)
            return "the header accounts for " + std::to_string(riffSize + 8) + " of the file's " +
                   std::to_string(fileSize) + " bytes (not finished)";
        return "the header claims " + std::to_string(riffSize + 8) + " bytes but the file has only " +
               std::to_string(fileSize) + " (cut short)";
    };
    if (!rf64)
        if (auto problem = extentProblem(); !problem.empty()) return incomplete(layout, problem);

    uint64_t offset = 12;
    for (int chunks = 0; offset < fileSize; ++chunks) {
        if (chunks == kMaxChunks) return notWave("more than " + std::to_string(kMaxChunks) + " chunks");
        uint8_t chunkHead[8];
        if (fileSize - offset < sizeof chunkHead || !readExactly(read, offset, chunkHead, sizeof chunkHead))
            return incomplete(layout, "the file ends inside a chunk header at byte " + std::to_string(offset));
        const std::string id(reinterpret_cast<const char*>(chunkHead), 4);
        uint64_t size = le32(chunkHead + 4);
        const uint64_t body = offset + 8;

        if (rf64 && chunks == 0) {
            if (id != "ds64" || size < 24) return notWave("RF64 file without a ds64 chunk first");
            uint8_t ds64[24];
            if (!readExactly(read, body, ds64, sizeof ds64))
                return incomplete(layout, "the file ends inside the ds64 chunk");
            if (riffSize != kSizeUnknown32) return notWave("RF64 file whose RIFF size is not 0xFFFFFFFF");
            riffSize = le64(ds64);
            ds64DataSize = le64(ds64 + 8);
            if (riffSize > UINT64_MAX - 8) return notWave("ds64 RIFF size out of range");
            if (auto problem = extentProblem(); !problem.empty()) return incomplete(layout, problem);
        }
        if (id == "fmt ") {
            uint8_t fmt[16];
            if (size < sizeof fmt) return notWave("fmt chunk too small");
            if (!readExactly(read, body, fmt, sizeof fmt))
                return incomplete(layout, "the file ends inside the fmt chunk");
            layout.formatTag = le16(fmt);
            layout.channels = le16(fmt + 2);
            layout.sampleRate = le32(fmt + 4);
            layout.blockAlign = le16(fmt + 12);
            layout.bitsPerSample = le16(fmt + 14);
            if (layout.channels == 0 || layout.sampleRate == 0 || layout.blockAlign == 0)
                return notWave("fmt chunk with zero channels, rate or block size");
            haveFormat = true;
        }
        if (id == "data") {
            if (!haveFormat) return notWave("data chunk before the fmt chunk");
            if (rf64 && size == kSizeUnknown32) size = ds64DataSize;
            layout.dataOffset = body;
            layout.dataBytes = size;
            haveData = true;
        }
        // Chunks are padded to even length; compare without overflowing.
        const uint64_t room = fileSize - body;
        if (size > room || ((size & 1) != 0 && size == room)) {
            if (id == "data" && size == room)
                return incomplete(layout, "the pad byte after the odd-sized data chunk is missing");
            return incomplete(layout, "the " + id + " chunk claims " + std::to_string(size) +
                                          " bytes but only " + std::to_string(room) + " follow it");
        }
        const uint64_t end = body + size + (size & 1);
        offset = end;
    }

    if (!haveFormat) return notWave("no fmt chunk");
    if (!haveData) return incomplete(layout, "no data chunk");
    if (layout.dataBytes % layout.blockAlign != 0)
        return incomplete(layout, "the data chunk ends inside a frame");
    layout.verdict = WaveLayout::Verdict::Complete;
    return layout;
}

}  // namespace containing_app
