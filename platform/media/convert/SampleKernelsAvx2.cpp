// AVX2 versions of the one-pass kernels, compiled for AVX2 function by
// function (the rest of the build stays at the baseline ISA) and used only
// when the CPU reports AVX2. Each handles whole vectors and leaves the last
// few samples to the portable kernel, so every variant shares one rule.

#include "SampleKernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MEDIA_HAVE_AVX2_KERNELS 1
#include <immintrin.h>
#endif

namespace media::convert {

#ifdef MEDIA_HAVE_AVX2_KERNELS
namespace {

// Clip counts gather in eight 32-bit lanes; a block of this many samples
// adds at most 2^27 to a lane, and the lanes are summed after each block.
constexpr size_t kClipBlock = size_t{1} << 30;

__attribute__((target("avx2"))) inline uint64_t sumLanes(__m256i lanes) {
    alignas(32) uint32_t parts[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(parts), lanes);
    uint64_t total = 0;
    for (const uint32_t p : parts) total += p;
    return total;
}

// x * 2^31 is exact in float. In range, cvtps2dq rounds as the rule does
// (current rounding mode, ties to even by default); at or above 2^31, below
// -2^31 and for NaN it yields INT32_MIN. XOR with the "over" mask turns that
// into INT32_MAX, and the "ordered" mask turns NaN into 0.
__attribute__((target("avx2"))) uint64_t floatToInt32Avx2(const uint8_t* src, size_t count, uint8_t* out) {
    const __m256 top = _mm256_set1_ps(2147483648.0f);
    const __m256 bottom = _mm256_set1_ps(-2147483648.0f);
    const size_t vectorEnd = count - count % 8;
    uint64_t clipped = 0;
    size_t i = 0;
    while (i < vectorEnd) {
        const size_t blockEnd = vectorEnd - i > kClipBlock ? i + kClipBlock : vectorEnd;
        __m256i lanes = _mm256_setzero_si256();
        for (; i < blockEnd; i += 8) {
            const __m256 s = _mm256_mul_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(src + 4 * i)), top);
            const __m256 over = _mm256_cmp_ps(s, top, _CMP_GE_OQ);
            const __m256 under = _mm256_cmp_ps(s, bottom, _CMP_LT_OQ);
            const __m256 ordered = _mm256_cmp_ps(s, s, _CMP_ORD_Q);
            __m256i v = _mm256_cvtps_epi32(s);
            v = _mm256_xor_si256(v, _mm256_castps_si256(over));
            v = _mm256_and_si256(v, _mm256_castps_si256(ordered));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), v);
            lanes = _mm256_sub_epi32(lanes, _mm256_castps_si256(_mm256_or_ps(over, under)));
        }
        clipped += sumLanes(lanes);
    }
    return clipped + portableKernels().floatToInt32(src + 4 * i, count - i, out + 4 * i);
}

// x * 2^15, clamped to [-32768, 32767] before rounding (the bounds are
// integers, so this equals rounding first); clipped from 32767.5 up and
// below -32768.5. minps/maxps pass NaN on as the bound; the "ordered" mask
// makes it 0. Two vectors pack to sixteen 16-bit samples; the pack works
// within 128-bit halves, so a permute puts them back in order.
struct Int16Constants {
    __m256 scale, hi, lo, overFrom, underBelow;
};

__attribute__((target("avx2"))) inline __m256i quantise16(const uint8_t* p, const Int16Constants& k,
                                                          __m256i& lanes) {
    const __m256 s = _mm256_mul_ps(_mm256_loadu_ps(reinterpret_cast<const float*>(p)), k.scale);
    const __m256 clip = _mm256_or_ps(_mm256_cmp_ps(s, k.overFrom, _CMP_GE_OQ),
                                     _mm256_cmp_ps(s, k.underBelow, _CMP_LT_OQ));
    const __m256 ordered = _mm256_cmp_ps(s, s, _CMP_ORD_Q);
    const __m256 c = _mm256_max_ps(_mm256_min_ps(s, k.hi), k.lo);
    lanes = _mm256_sub_epi32(lanes, _mm256_castps_si256(clip));
    return _mm256_and_si256(_mm256_cvtps_epi32(c), _mm256_castps_si256(ordered));
}

__attribute__((target("avx2"))) uint64_t floatToInt16Avx2(const uint8_t* src, size_t count, uint8_t* out) {
    const Int16Constants k{_mm256_set1_ps(32768.0f), _mm256_set1_ps(32767.0f), _mm256_set1_ps(-32768.0f),
                           _mm256_set1_ps(32767.5f), _mm256_set1_ps(-32768.5f)};
    const size_t vectorEnd = count - count % 16;
    uint64_t clipped = 0;
    size_t i = 0;
    while (i < vectorEnd) {
        const size_t blockEnd = vectorEnd - i > kClipBlock ? i + kClipBlock : vectorEnd;
        __m256i lanes = _mm256_setzero_si256();
        for (; i < blockEnd; i += 16) {
            const __m256i a = quantise16(src + 4 * i, k, lanes);
            const __m256i b = quantise16(src + 4 * i + 32, k, lanes);
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), packed);
        }
        clipped += sumLanes(lanes);
    }
    return clipped + portableKernels().floatToInt16(src + 4 * i, count - i, out + 2 * i);
}

__attribute__((target("avx2"))) void swapInt16Avx2(const uint8_t* src, size_t count, uint8_t* out) {
    const __m256i order = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14,
                                           1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    const size_t vectorEnd = count - count % 32;
    size_t i = 0;
    for (; i < vectorEnd; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * i + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), _mm256_shuffle_epi8(a, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i + 32), _mm256_shuffle_epi8(b, order));
    }
    portableKernels().swapInt16(src + 2 * i, count - i, out + 2 * i);
}

constexpr SampleKernels kAvx2{&floatToInt32Avx2, &floatToInt16Avx2, &swapInt16Avx2};

}  // namespace

const SampleKernels* avx2Kernels() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported ? &kAvx2 : nullptr;
}

#else

const SampleKernels* avx2Kernels() { return nullptr; }

#endif

const SampleKernels& activeKernels() {
    static const SampleKernels& chosen = avx512Kernels() != nullptr ? *avx512Kernels()
                                         : avx2Kernels() != nullptr ? *avx2Kernels()
                                                                    : portableKernels();
    return chosen;
}

}  // namespace media::convert
