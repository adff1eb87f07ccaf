#pragma once
// Sample codecs, chosen once per sample encoding: functions that convert a
// run of `count` samples between stored bytes and the two working forms,
// left-justified int32 and double. None allocates or looks at the format per
// sample. The rules they follow:
//
// - Integers travel left-justified in 32 bits: a B-bit sample s becomes
//   s * 2^(32-B); unsigned (offset-binary) samples are first offset by
//   -2^(B-1). As doubles they are that value / 2^31, exactly.
// - Double to N-bit integer: multiply by 2^(N-1), round to the nearest
//   integer with ties to even, saturate to [-2^(N-1), 2^(N-1)-1]; NaN gives 0.
//   So +1.0 gives the largest value (and counts as clipped), -1.0 the smallest.
// - Left-justified int32 to N-bit integer: add half of the N-bit step (ties
//   round up), shift right by 32-N, saturate at the top. Widening is exact.
// - Double to float: the value as it is (float32 rounds to nearest); nothing
//   saturates.
// Encoders only convert; a source that reports saturated samples counts them
// with the codec's counter, by the same rule.

#include <cstddef>
#include <cstdint>

#include "StreamLayout.h"

namespace pcm {

// Stored integer samples to left-justified int32, written to out[0],
// out[stride], out[2*stride], ...
using IntDecoder = void (*)(const uint8_t* src, size_t count, int32_t* out, size_t stride);
// Stored samples of any kind to doubles (integers in [-1, 1), exactly), strided likewise.
using RealDecoder = void (*)(const uint8_t* src, size_t count, double* out, size_t stride);
// Left-justified int32 samples to stored bytes.
using IntEncoder = void (*)(const int32_t* in, size_t count, uint8_t* out);
// Doubles (full scale +-1) to stored bytes.
using RealEncoder = void (*)(const double* in, size_t count, uint8_t* out);
// How many of `count` doubles the RealEncoder saturates.
using SaturationCounter = uint64_t (*)(const double* in, size_t count);
// Stored samples straight to the bytes of a WAVE file's data.
using DirectConverter = void (*)(const uint8_t* src, size_t count, uint8_t* out);

// What converts samples of one encoding; a member is null where there is no
// such conversion: integer encodings have no float side, and encoders exist
// only for packed containers (every sample size but 24 bits in 4 bytes).
struct SampleCodec {
    IntDecoder decodeInt = nullptr;
    RealDecoder decodeReal = nullptr;
    IntEncoder encodeInt = nullptr;
    RealEncoder encodeReal = nullptr;
    SaturationCounter countSaturated = nullptr;  // wherever encodeReal is
};

SampleCodec codecFor(const SampleEncoding& encoding);

// A one-pass converter from `encoding` to the WAVE data layout at `outBits`
// (little-endian, 8-bit unsigned, wider signed) when one exists (little-endian
// floats; integers already in the output layout; 16-bit big-endian to 16-bit),
// else null.
DirectConverter selectDirectConverter(const SampleEncoding& encoding, unsigned outBits);

}  // namespace pcm
