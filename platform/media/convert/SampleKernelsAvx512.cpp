// AVX-512 versions of the one-pass kernels, compiled for AVX-512 (F and BW)
// function by function and used only when the CPU and the OS support it.
// Sixteen floats a vector, and compare results in mask registers instead of
// vectors: about half the instructions of the AVX2 versions per sample. The
// last few samples go to the portable kernel, so every variant shares one rule.

#include "SampleKernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MEDIA_HAVE_AVX512_KERNELS 1
#include <immintrin.h>
#endif

namespace media::convert {

#ifdef MEDIA_HAVE_AVX512_KERNELS
// GCC 12's AVX-512 intrinsics start some results from a deliberately
// undefined register and then warn about it being uninitialised.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace {

#define MEDIA_AVX512 __attribute__((target("avx512f,avx512bw")))

MEDIA_AVX512 inline uint64_t countOf(__mmask16 mask) {
    return static_cast<uint64_t>(__builtin_popcount(static_cast<unsigned>(mask)));
}

// x * 2^31 is exact in float. In range, the conversion rounds as the rule
// does (current rounding mode, ties to even by default); lanes at or above
// 2^31 become INT32_MAX, NaN lanes 0, and those below -2^31 keep the
// conversion's INT32_MIN.
MEDIA_AVX512 uint64_t floatToInt32Avx512(const uint8_t* src, size_t count, uint8_t* out) {
    const __m512 top = _mm512_set1_ps(2147483648.0f);
    const __m512 bottom = _mm512_set1_ps(-2147483648.0f);
    const __m512i largest = _mm512_set1_epi32(0x7FFFFFFF);
    const size_t vectorEnd = count - count % 16;
    uint64_t clipped = 0;
    for (size_t i = 0; i < vectorEnd; i += 16) {
        const __m512 s = _mm512_mul_ps(_mm512_loadu_ps(src + 4 * i), top);
        const __mmask16 over = _mm512_cmp_ps_mask(s, top, _CMP_GE_OQ);
        const __mmask16 under = _mm512_cmp_ps_mask(s, bottom, _CMP_LT_OQ);
        const __mmask16 ordered = _mm512_cmp_ps_mask(s, s, _CMP_ORD_Q);
        const __m512i v = _mm512_mask_mov_epi32(_mm512_maskz_cvtps_epi32(ordered, s), over, largest);
        _mm512_storeu_si512(out + 4 * i, v);
        clipped += countOf(over | under);
    }
    return clipped + portableKernels().floatToInt32(src + 4 * vectorEnd, count - vectorEnd, out + 4 * vectorEnd);
}

// x * 2^15, clamped to [-32768, 32767] before rounding (the bounds are
// integers, so this equals rounding first); clipped from 32767.5 up and
// below -32768.5. min/max turn NaN into a bound; the "ordered" mask makes it
// 0. The clamped values fit, so narrowing to 16 bits changes none.
MEDIA_AVX512 uint64_t floatToInt16Avx512(const uint8_t* src, size_t count, uint8_t* out) {
    const __m512 scale = _mm512_set1_ps(32768.0f);
    const __m512 hi = _mm512_set1_ps(32767.0f), lo = _mm512_set1_ps(-32768.0f);
    const __m512 overFrom = _mm512_set1_ps(32767.5f), underBelow = _mm512_set1_ps(-32768.5f);
    const size_t vectorEnd = count - count % 16;
    uint64_t clipped = 0;
    for (size_t i = 0; i < vectorEnd; i += 16) {
        const __m512 s = _mm512_mul_ps(_mm512_loadu_ps(src + 4 * i), scale);
        const __mmask16 clip = _mm512_cmp_ps_mask(s, overFrom, _CMP_GE_OQ) | _mm512_cmp_ps_mask(s, underBelow, _CMP_LT_OQ);
        const __mmask16 ordered = _mm512_cmp_ps_mask(s, s, _CMP_ORD_Q);
        const __m512 c = _mm512_max_ps(_mm512_min_ps(s, hi), lo);
        const __m256i narrow = _mm512_cvtsepi32_epi16(_mm512_maskz_cvtps_epi32(ordered, c));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), narrow);
        clipped += countOf(clip);
    }
    return clipped + portableKernels().floatToInt16(src + 4 * vectorEnd, count - vectorEnd, out + 2 * vectorEnd);
}

MEDIA_AVX512 void swapInt16Avx512(const uint8_t* src, size_t count, uint8_t* out) {
    const __m512i order = _mm512_set_epi8(62, 63, 60, 61, 58, 59, 56, 57, 54, 55, 52, 53, 50, 51, 48, 49,  //
                                          46, 47, 44, 45, 42, 43, 40, 41, 38, 39, 36, 37, 34, 35, 32, 33,  //
                                          30, 31, 28, 29, 26, 27, 24, 25, 22, 23, 20, 21, 18, 19, 16, 17,  //
                                          14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    const size_t vectorEnd = count - count % 32;
    for (size_t i = 0; i < vectorEnd; i += 32) {
        const __m512i a = _mm512_loadu_si512(src + 2 * i);
        _mm512_storeu_si512(out + 2 * i, _mm512_shuffle_epi8(a, order));
    }
    portableKernels().swapInt16(src + 2 * vectorEnd, count - vectorEnd, out + 2 * vectorEnd);
}

constexpr SampleKernels kAvx512{&floatToInt32Avx512, &floatToInt16Avx512, &swapInt16Avx512};

}  // namespace
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

const SampleKernels* avx512Kernels() {
    // The CPU check includes the OS's support for the 512-bit register state.
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    return supported ? &kAvx512 : nullptr;
}

#else

const SampleKernels* avx512Kernels() { return nullptr; }

#endif

}  // namespace media::convert
