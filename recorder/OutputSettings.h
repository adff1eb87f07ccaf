#pragma once
// The writer input's output settings for a source stream: linear PCM at the
// source's rate (truncated toward zero), bit depth and channel count,
// interleaved, integer and little-endian.

#include <cstdint>

#include "platform/buffers/AudioStreamBasicDescription.h"
#include "platform/foundation/NSDictionary.h"

// The rate as a whole number of frames per second, truncated toward zero;
// 0 (a rate no input accepts) when it is not finite, below 1 or too large to
// truncate safely.
uint64_t truncatedSampleRate(double sampleRate);

NSDictionary outputSettingsForStreamDescription(const AudioStreamBasicDescription& description);
