#pragma once
// Sample converters, chosen once per input format. Each converts a run of
// `count` samples; none allocates. Output is the WAVE data layout:
// little-endian integers of the output width (8-bit offset by 128, 24-bit
// packed low byte first). Encoders return how many samples they saturated.

#include <cstddef>
#include <cstdint>

#include "StreamLayout.h"

namespace pcm {

// Stored integer samples to left-justified int32 (see SampleRules.h),
// written to out[0], out[stride], out[2*stride], ...
using IntDecoder = void (*)(const uint8_t* src, size_t count, int32_t* out, size_t stride);
// Stored samples of any kind to doubles in [-1, 1) (integers exactly).
using RealDecoder = void (*)(const uint8_t* src, size_t count, double* out, size_t stride);
// Left-justified int32 samples to output bytes.
using IntEncoder = uint64_t (*)(const int32_t* in, size_t count, uint8_t* out);
// Doubles (full scale +-1) to output bytes.
using RealEncoder = uint64_t (*)(const double* in, size_t count, uint8_t* out);
// Stored samples straight to output bytes, for the formats that have one.
using DirectConverter = uint64_t (*)(const uint8_t* src, size_t count, uint8_t* out);

// Valid for integer encodings only; null otherwise.
IntDecoder selectIntDecoder(const SampleEncoding& encoding);
RealDecoder selectRealDecoder(const SampleEncoding& encoding);
// Output widths 8, 16, 24 and 32; null otherwise.
IntEncoder selectIntEncoder(unsigned outBits);
RealEncoder selectRealEncoder(unsigned outBits);
// A one-pass converter from `encoding` to the output width when one exists
// (little-endian floats; integers already in the output layout; 16-bit
// big-endian to 16-bit), else null.
DirectConverter selectDirectConverter(const SampleEncoding& encoding, unsigned outBits);

// The one-pass kernels behind the common direct converters, built for
// several CPU levels (see SampleCodecs.cpp): little-endian float32 to 32-bit
// and 16-bit integers (returning the clip count), and the byte swap of
// 16-bit samples, which may also work in place (src == out).
uint64_t floatToInt32(const uint8_t* src, size_t count, uint8_t* out);
uint64_t floatToInt16(const uint8_t* src, size_t count, uint8_t* out);
void swapInt16(const uint8_t* src, size_t count, uint8_t* out);

}  // namespace pcm
