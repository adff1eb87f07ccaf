#pragma once
// Serialisation of the WAVE header as pure functions on byte buffers.
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

#include "WaveFormat.h"

namespace media::wave {

inline constexpr uint16_t kFormatTagPCM = 0x0001;
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
// The RIFF size of a file holding `dataBytes` of samples: file length
// minus 8, counting the pad byte of odd-sized data.
uint64_t riffSizeFor(const WaveFormat& format, uint64_t dataBytes);
// Whether a file holding `dataBytes` of samples needs the RF64 form.
bool needsRF64(const WaveFormat& format, uint64_t dataBytes);

// Writes the header for `dataBytes` of samples into `out`, which must hold
// exactly headerSize(format) bytes; returns false (writing nothing) otherwise.
bool writeHeader(std::span<uint8_t> out, const WaveFormat& format, uint64_t dataBytes);

}  // namespace media::wave
