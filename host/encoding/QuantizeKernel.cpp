#include "QuantizeKernel.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace host {
namespace {

// A value rounds beyond the codes exactly when it lies at or past half a
// code above the largest (which is odd, so a tie rounds up to the even code
// past it) or more than half a code below the smallest (even, so a tie
// rounds back to it).
struct Range {
    explicit Range(uint32_t bits)
        : scale(std::ldexp(1.0, static_cast<int>(bits) - 1)), maxCode(scale - 1.0), minCode(-scale),
          clipAbove(maxCode + 0.5), clipBelow(minCode - 0.5) {}
    double scale;
    double maxCode;
    double minCode;
    double clipAbove;
    double clipBelow;
};

// One value: clamp into the code range first, so std::rint (which rounds
// ties to even in the default mode) and the conversion stay in range.
int32_t quantizeOne(double value, const Range& range, uint64_t& clipped) {
    const double scaled = value * range.scale;
    if (std::isnan(scaled)) return 0;
    clipped += (scaled >= range.clipAbove || scaled < range.clipBelow) ? 1 : 0;
    return static_cast<int32_t>(std::rint(std::fmin(std::fmax(scaled, range.minCode), range.maxCode)));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define HOST_HAVE_AVX2_QUANTIZE 1
#include <immintrin.h>

// Four values at a time with AVX2, the same steps as the SSE2 loop below;
// the saturated lanes are counted in 64-bit lanes (a true compare is -1).
// Returns how many values it handled (a multiple of four).
__attribute__((target("avx2"))) size_t quantizeAvx2(const double* in, size_t count, const Range& range,
                                                   int32_t* codes, uint64_t& clipped) {
    const __m256d scale = _mm256_set1_pd(range.scale);
    const __m256d maxCode = _mm256_set1_pd(range.maxCode);
    const __m256d minCode = _mm256_set1_pd(range.minCode);
    const __m256d clipAbove = _mm256_set1_pd(range.clipAbove);
    const __m256d clipBelow = _mm256_set1_pd(range.clipBelow);
    __m256i outsideCount = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d scaled = _mm256_mul_pd(_mm256_loadu_pd(in + i), scale);
        const __m256d outside = _mm256_or_pd(_mm256_cmp_pd(scaled, clipAbove, _CMP_GE_OQ),
                                             _mm256_cmp_pd(scaled, clipBelow, _CMP_LT_OQ));
        outsideCount = _mm256_sub_epi64(outsideCount, _mm256_castpd_si256(outside));
        const __m256d bounded = _mm256_min_pd(_mm256_max_pd(scaled, minCode), maxCode);
        const __m256d value = _mm256_and_pd(bounded, _mm256_cmp_pd(scaled, scaled, _CMP_ORD_Q));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), _mm256_cvtpd_epi32(value));
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), outsideCount);
    clipped += lanes[0] + lanes[1] + lanes[2] + lanes[3];
    return i;
}

bool machineHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

}  // namespace

uint64_t quantizeToCodes(const double* in, size_t count, uint32_t bits, int32_t* codes) {
    const Range range(bits);
    uint64_t clipped = 0;
    size_t i = 0;
#ifdef HOST_HAVE_AVX2_QUANTIZE
    if (machineHasAvx2()) i = quantizeAvx2(in, count, range, codes, clipped);
#endif
#if defined(__SSE2__)
    // cvtpd2dq rounds in the current mode, ties to even by default, as
    // std::rint does; maxpd with a NaN gives its second operand, which the
    // ordered mask then turns into 0.
    const __m128d scale = _mm_set1_pd(range.scale);
    const __m128d maxCode = _mm_set1_pd(range.maxCode);
    const __m128d minCode = _mm_set1_pd(range.minCode);
    const __m128d clipAbove = _mm_set1_pd(range.clipAbove);
    const __m128d clipBelow = _mm_set1_pd(range.clipBelow);
    for (; i + 2 <= count; i += 2) {
        const __m128d scaled = _mm_mul_pd(_mm_loadu_pd(in + i), scale);
        const __m128d outside = _mm_or_pd(_mm_cmpge_pd(scaled, clipAbove), _mm_cmplt_pd(scaled, clipBelow));
        const int lanes = _mm_movemask_pd(outside);
        clipped += static_cast<uint64_t>((lanes & 1) + (lanes >> 1));
        const __m128d bounded = _mm_min_pd(_mm_max_pd(scaled, minCode), maxCode);
        const __m128d value = _mm_and_pd(bounded, _mm_cmpord_pd(scaled, scaled));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + i), _mm_cvtpd_epi32(value));
    }
#endif
    for (; i < count; ++i) codes[i] = quantizeOne(in[i], range, clipped);
    return clipped;
}

}  // namespace host
