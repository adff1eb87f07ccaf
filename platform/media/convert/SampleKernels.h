#pragma once
// The hot one-pass kernels in each instruction-set variant this build has.
// Every variant produces exactly the bytes and clip count of the plain rules
// in SampleRules.h; the variant is chosen once, from the CPU, not per call.

#include <cstddef>
#include <cstdint>

namespace media::convert {

struct SampleKernels {
    // Little-endian float32 samples to 32-bit / 16-bit little-endian
    // integers; returns how many samples saturated.
    uint64_t (*floatToInt32)(const uint8_t* src, size_t count, uint8_t* out);
    uint64_t (*floatToInt16)(const uint8_t* src, size_t count, uint8_t* out);
    // Swaps the bytes of every 16-bit sample.
    void (*swapInt16)(const uint8_t* src, size_t count, uint8_t* out);
};

// Plain C++ for any CPU (vectorised by the compiler for the baseline ISA).
const SampleKernels& portableKernels();
// AVX2 versions, or null when the build or the CPU has no AVX2.
const SampleKernels* avx2Kernels();
// AVX-512 (F and BW) versions, or null when the build or the CPU has none.
const SampleKernels* avx512Kernels();
// The fastest variant this CPU runs, chosen on first use.
const SampleKernels& activeKernels();

}  // namespace media::convert
