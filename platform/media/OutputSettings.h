#pragma once
// Reading a writer input's linear-PCM output settings as a WAVE data format.

#include <optional>

#include "../foundation/NSDictionary.h"
#include "wave/WaveFormat.h"

namespace media {

// The WAVE format the settings ask for, or none when the format is not
// linear PCM; float, big-endian or non-interleaved output is asked for; the
// rate is not in 1..2^32-1; the depth is not 8, 16, 24 or 32; there are no
// channels; a frame would be wider than 65535 bytes, or a second of audio
// more than 2^32-1 bytes (the header's fields can't say so).
std::optional<WaveFormat> waveFormatFromSettings(const NSDictionary& settings);

}  // namespace media
