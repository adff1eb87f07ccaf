#pragma once
// The WAVE header as pure functions on byte buffers: the writer's
// serialisation and the reader's parse, side by side.
//
// Layout written by this system (header bytes, then the sample data):
//   "RIFF" <size> "WAVE"
//   "JUNK" 28 <28 zero bytes>        room for a ds64 chunk, see below
//   "fmt " 16|40 <format>            WAVE_FORMAT_PCM or WAVE_FORMAT_EXTENSIBLE
//   "data" <size> <samples> [pad]    a zero pad byte follows odd-sized data
// While the file fits the 32-bit RIFF size field it stays a plain RIFF WAVE
// (the JUNK chunk is skipped by every reader). Past that limit the same bytes
// become RF64: "RIFF" -> "RF64" with size 0xFFFFFFFF, "JUNK" -> "ds64" holding
// the 64-bit RIFF size, data size and frame count, and the data size field
// 0xFFFFFFFF. The header keeps its length, so promotion rewrites it in place.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "WaveFormat.h"

namespace media::wave {

inline constexpr uint16_t kFormatTagPCM = 0x0001;
inline constexpr uint16_t kFormatTagFloat = 0x0003;
inline constexpr uint16_t kFormatTagExtensible = 0xFFFE;
inline constexpr size_t kReservedChunkBytes = 36;  // "JUNK"/"ds64", size, 28 payload bytes
inline constexpr uint32_t kSizeUnknown32 = 0xFFFFFFFFu;

// WAVE_FORMAT_EXTENSIBLE is needed above 2 channels or 16 bits.
bool usesExtensibleFormat(const WaveFormat& format);
// The speaker mask of the extensible format: 1 ch front centre, 2 ch front
// left/right, 4 ch quad, 6 ch 5.1, 8 ch 7.1; no assignment otherwise.
uint32_t channelMaskFor(uint16_t channels);
// Bytes before the first sample: 80 for WAVE_FORMAT_PCM, 104 for extensible.
size_t headerSize(const WaveFormat& format);
// The most headerSize() gives, for room reserved ahead of the format.
inline constexpr size_t kLargestHeaderBytes = 104;
// The RIFF size of a file holding `dataBytes` of samples: file length
// minus 8, counting the pad byte of odd-sized data.
uint64_t riffSizeFor(const WaveFormat& format, uint64_t dataBytes);
// Whether a file holding `dataBytes` of samples needs the RF64 form.
bool needsRF64(const WaveFormat& format, uint64_t dataBytes);

// Writes the header for `dataBytes` of samples into `out`, which must hold
// exactly headerSize(format) bytes; returns false (writing nothing) otherwise.
bool writeHeader(std::span<uint8_t> out, const WaveFormat& format, uint64_t dataBytes);

// How a file stands, from nothing there to a complete WAVE file. The header
// parse gives the last three; the file reader adds the first two.
enum class WaveStatus { Missing, Unreadable, NotWave, Incomplete, Complete };

// What a RIFF or RF64 WAVE header says; sizes come from ds64 in RF64.
struct WaveDescription {
    bool rf64 = false;
    uint16_t formatTag = 0;     // as stored: PCM, float, extensible, ...
    uint16_t sampleFormat = 0;  // PCM or float: the tag, or the extensible subtype's; 0 if unknown
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;  // bytes of one frame
    uint16_t bitsPerSample = 0;
    uint64_t dataOffset = 0;  // where the first sample is
    uint64_t dataBytes = 0;
    uint64_t frames() const { return blockAlign == 0 ? 0 : dataBytes / blockAlign; }
};

struct WaveHeaderReading {
    WaveStatus status = WaveStatus::NotWave;
    std::string problem;  // why it is not complete
    WaveDescription description;
};

// Reads the header of a file `fileBytes` long from `head`, its first bytes
// (up to the first sample at least, or the whole file). Complete means the
// sizes agree with the length: the RIFF size covers the file exactly, every
// chunk up to the data fits, the data chunk (and the pad byte after odd data)
// fits, and it holds whole frames. Chunks after the data are not read.
WaveHeaderReading readHeader(std::span<const uint8_t> head, uint64_t fileBytes);

}  // namespace media::wave
