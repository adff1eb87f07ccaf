// The sample codecs. Loops are written so GCC vectorises them at -O2/-O3
// without -march flags: loads and stores through memcpy (buffers may be
// unaligned), branch-free selects, and rounding by the 1.5*2^52 bias (adding
// and subtracting it leaves a double rounded to an integer, ties to even, in
// the default rounding mode) instead of a library call.
//
// The kernels of the common formats (float32 to 16 and 32 bits, the 16-bit
// byte swap) are the same loops compiled once per CPU level.

#include "SampleCodecs.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "CpuLevels.h"

namespace pcm {

static_assert(std::endian::native == std::endian::little,
              "the converters store little-endian samples with plain copies");

// The kernels of the common direct conversions, defined at the end for
// several CPU levels: little-endian float32 to 32-bit and 16-bit integers,
// and the byte swap of 16-bit samples.
PCM_CPU_LEVELS void floatToInt32(const uint8_t* src, size_t count, uint8_t* out);
PCM_CPU_LEVELS void floatToInt16(const uint8_t* src, size_t count, uint8_t* out);
PCM_CPU_LEVELS void swapInt16(const uint8_t* src, size_t count, uint8_t* out);

namespace {

constexpr double kRoundingBias = 6755399441055744.0;  // 1.5 * 2^52

template <unsigned Bits>
struct OutputRange {
    static constexpr double scale = static_cast<double>(int64_t{1} << (Bits - 1));
    static constexpr double hi = scale - 1;
    static constexpr double lo = -scale;
};

// x scaled to N bits and rounded to an integer, ties to even, not yet
// saturated. For |s| >= 2^51 the bias no longer rounds exactly, but such
// values lie far outside every range and saturate exactly as the rule says.
template <unsigned Bits>
inline double roundScaled(double x) {
    const double s = x * OutputRange<Bits>::scale;
    return (s + kRoundingBias) - kRoundingBias;
}

// Real sample to N-bit integer by the rule in SampleCodecs.h. NaN passes
// both clamps as the top value; the last select makes it 0.
template <unsigned Bits>
inline int32_t quantise(double x) {
    using Range = OutputRange<Bits>;
    const double r = roundScaled<Bits>(x);
    double c = r < Range::hi ? r : Range::hi;
    c = c > Range::lo ? c : Range::lo;
    c = x == x ? c : 0.0;
    return static_cast<int32_t>(c);
}

// 1 when quantise<Bits>(x) saturates, else 0 (NaN fails both range tests),
// as a double: SSE2 has no 64-bit integer compare, and counting the
// comparison directly in an integer keeps GCC from vectorising the loop.
template <unsigned Bits>
inline double saturates(double x) {
    using Range = OutputRange<Bits>;
    const double r = roundScaled<Bits>(x);
    return ((r > Range::hi) | (r < Range::lo)) ? 1.0 : 0.0;
}

// Rounds a float that is already within int32 range to the nearest integer
// in the current rounding mode (ties to even by default), as std::nearbyint
// does. GCC turns __builtin_irintf into one cvtps2dq per four lanes.
inline int32_t roundFloatToInt(float v) {
#if defined(__GNUC__) && !defined(__clang__)
    return __builtin_irintf(v);
#else
    return static_cast<int32_t>(std::nearbyint(v));
#endif
}

// The same rule for float32 samples, in float lanes (no widening to
// double): x * 2^(N-1) is exact in float. A sample clips when it rounds
// outside the range: from hi + 0.5 up (that tie rounds to the even hi + 1)
// and below lo - 0.5 (that tie rounds to the even lo). Both limits,
// converted to float, keep this meaning at every width: at 24 and 32 bits
// lo - 0.5 becomes lo, and no float lies between them; at 32 bits hi + 0.5
// becomes 2^31. Only samples between the limits are rounded (NaN, which is
// neither, as 0); clipped ones then take their bound. Each select is one
// masked vector instruction after its comparison.
template <unsigned Bits>
inline int32_t quantiseFloat(float x) {
    constexpr int32_t hi = static_cast<int32_t>((int64_t{1} << (Bits - 1)) - 1);
    constexpr int32_t lo = -hi - 1;
    constexpr float overFrom = static_cast<float>(hi + 0.5);
    constexpr float underBelow = static_cast<float>(lo - 0.5);
    const float s = x * -static_cast<float>(lo);
    const float inRange = ((s >= underBelow) & (s < overFrom)) ? s : 0.0f;
    const int32_t r = s >= overFrom ? hi : roundFloatToInt(inRange);
    return s < underBelow ? lo : r;
}

// Left-justified int32 to N-bit integer by the rule in SampleCodecs.h, in
// 32-bit lanes: (v + half) >> shift equals (v >> shift) plus the highest
// dropped bit, and only the largest inputs round up past the top.
template <unsigned Bits>
inline int32_t narrow(int32_t v) {
    if constexpr (Bits == 32) {
        return v;
    } else {
        constexpr unsigned shift = 32 - Bits;
        constexpr int32_t hi = (int32_t{1} << (Bits - 1)) - 1;
        const int32_t r = (v >> shift) + ((v >> (shift - 1)) & 1);
        return r > hi ? hi : r;
    }
}

// The sum of `flag(i)` (each 0 or 1) for every i below count; counts
// accumulate in 32-bit lanes, emptied into the 64-bit total every 2^30
// samples.
template <typename Flag>
inline uint64_t countedLoop(size_t count, Flag flag) {
    constexpr size_t kBlock = size_t{1} << 30;
    uint64_t total = 0;
    for (size_t start = 0; start < count; start += kBlock) {
        const size_t end = count - start < kBlock ? count : start + kBlock;
        uint32_t counted = 0;
        for (size_t i = start; i < end; ++i) counted += static_cast<uint32_t>(static_cast<int32_t>(flag(i)));
        total += counted;
    }
    return total;
}

// The value with its bytes reversed when Swap is set: little-endian storage
// of big-endian samples, in both directions.
template <bool Swap, typename U>
inline U swapIf(U v) {
    if constexpr (!Swap || sizeof(U) == 1) {
        return v;
    } else if constexpr (sizeof(U) == 2) {
        return __builtin_bswap16(v);
    } else if constexpr (sizeof(U) == 4) {
        return __builtin_bswap32(v);
    } else {
        return __builtin_bswap64(v);
    }
}

template <typename T>
inline T loadLittle(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Sample i of a packed integer output of `Bytes` bytes; Offset stores
// offset binary (unsigned samples).
template <unsigned Bytes, bool BigEndian, bool Offset>
inline void store(uint8_t* out, size_t i, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    if constexpr (Offset) u += uint32_t{1} << (8 * Bytes - 1);
    if constexpr (Bytes == 1) {
        out[i] = static_cast<uint8_t>(u);
    } else if constexpr (Bytes == 2) {
        const uint16_t s = swapIf<BigEndian>(static_cast<uint16_t>(u));
        std::memcpy(out + 2 * i, &s, 2);
    } else if constexpr (Bytes == 3) {
        out[3 * i + (BigEndian ? 2 : 0)] = static_cast<uint8_t>(u);
        out[3 * i + 1] = static_cast<uint8_t>(u >> 8);
        out[3 * i + (BigEndian ? 0 : 2)] = static_cast<uint8_t>(u >> 16);
    } else {
        u = swapIf<BigEndian>(u);
        std::memcpy(out + 4 * i, &u, 4);
    }
}

// A WAVE file's data: little-endian, 8-bit unsigned, wider signed.
template <unsigned Bits>
inline void storeWave(uint8_t* out, size_t i, int32_t v) {
    store<Bits / 8, false, Bits == 8>(out, i, v);
}

// Raw container bits as an unsigned number, in the stored byte order.
template <unsigned Bytes, bool BigEndian>
inline uint32_t loadContainer(const uint8_t* p) {
    if constexpr (Bytes == 1) {
        return p[0];
    } else if constexpr (Bytes == 2) {
        return swapIf<BigEndian>(loadLittle<uint16_t>(p));
    } else if constexpr (Bytes == 3) {
        return BigEndian ? (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]
                         : (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    } else {
        return swapIf<BigEndian>(loadLittle<uint32_t>(p));
    }
}

// Shift puts the valid bits at the top; the mask clears bits below them
// (padding of a high-aligned 24-bit container); Flip turns offset-binary
// (unsigned) into two's complement.
template <unsigned Bytes, bool BigEndian, unsigned Shift, uint32_t Mask, bool Flip>
inline int32_t loadInt(const uint8_t* p) {
    uint32_t v = (loadContainer<Bytes, BigEndian>(p) << Shift) & Mask;
    if constexpr (Flip) v ^= 0x80000000u;
    return static_cast<int32_t>(v);
}

template <unsigned Bytes, bool BigEndian, unsigned Shift, uint32_t Mask, bool Flip>
void decodeInt(const uint8_t* src, size_t count, int32_t* out, size_t stride) {
    for (size_t i = 0; i < count; ++i) out[i * stride] = loadInt<Bytes, BigEndian, Shift, Mask, Flip>(src + i * Bytes);
}

template <unsigned Bytes, bool BigEndian, unsigned Shift, uint32_t Mask, bool Flip>
void decodeIntToReal(const uint8_t* src, size_t count, double* out, size_t stride) {
    for (size_t i = 0; i < count; ++i)
        out[i * stride] =
            static_cast<double>(loadInt<Bytes, BigEndian, Shift, Mask, Flip>(src + i * Bytes)) * (1.0 / 2147483648.0);
}

template <typename F>
using BitsOf = std::conditional_t<sizeof(F) == 4, uint32_t, uint64_t>;

template <typename F, bool BigEndian>
void decodeReal(const uint8_t* src, size_t count, double* out, size_t stride) {
    for (size_t i = 0; i < count; ++i)
        out[i * stride] = std::bit_cast<F>(swapIf<BigEndian>(loadLittle<BitsOf<F>>(src + i * sizeof(F))));
}

template <unsigned Bytes, bool BigEndian, bool Offset>
void encodeInt(const int32_t* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) store<Bytes, BigEndian, Offset>(out, i, narrow<8 * Bytes>(in[i]));
}

template <unsigned Bytes, bool BigEndian, bool Offset>
void encodeReal(const double* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) store<Bytes, BigEndian, Offset>(out, i, quantise<8 * Bytes>(in[i]));
}

template <unsigned Bits>
uint64_t countSaturated(const double* in, size_t count) {
    return countedLoop(count, [&](size_t i) { return saturates<Bits>(in[i]); });
}

// Nothing saturates on the way to floats.
uint64_t countNothing(const double*, size_t) { return 0; }

template <typename F, bool BigEndian>
void encodeFloat(const double* in, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const BitsOf<F> bits = swapIf<BigEndian>(std::bit_cast<BitsOf<F>>(static_cast<F>(in[i])));
        std::memcpy(out + i * sizeof(F), &bits, sizeof(F));
    }
}

// Little-endian floats straight to WAVE bytes.
template <typename F, unsigned Bits>
void convertReal(const uint8_t* src, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const F x = loadLittle<F>(src + i * sizeof(F));
        if constexpr (sizeof(F) == 4) {
            storeWave<Bits>(out, i, quantiseFloat<Bits>(x));
        } else {
            storeWave<Bits>(out, i, quantise<Bits>(x));
        }
    }
}

template <unsigned Bytes>
void copyConverter(const uint8_t* src, size_t count, uint8_t* out) {
    std::memcpy(out, src, count * Bytes);
}

// Integers in a container of their own size.
template <unsigned Bytes, bool BigEndian, bool Unsigned>
SampleCodec packedIntCodec() {
    constexpr unsigned shift = 32 - 8 * Bytes;
    return {&decodeInt<Bytes, BigEndian, shift, ~0u, Unsigned>,
            &decodeIntToReal<Bytes, BigEndian, shift, ~0u, Unsigned>, &encodeInt<Bytes, BigEndian, Unsigned>,
            &encodeReal<Bytes, BigEndian, Unsigned>, &countSaturated<8 * Bytes>};
}

// 24 valid bits in 4 bytes, shifted up by Shift to the top; read only.
template <unsigned Shift, bool BigEndian, bool Unsigned>
SampleCodec wide24Codec() {
    return {&decodeInt<4, BigEndian, Shift, 0xFFFFFF00u, Unsigned>,
            &decodeIntToReal<4, BigEndian, Shift, 0xFFFFFF00u, Unsigned>, nullptr, nullptr, nullptr};
}

template <bool BigEndian, bool Unsigned>
SampleCodec intCodec(const SampleEncoding& e) {
    switch (e.containerBytes) {
        case 1: return packedIntCodec<1, BigEndian, Unsigned>();
        case 2: return packedIntCodec<2, BigEndian, Unsigned>();
        case 3: return packedIntCodec<3, BigEndian, Unsigned>();
        case 4:
            if (e.validBits == 32) return packedIntCodec<4, BigEndian, Unsigned>();
            return e.alignedHigh ? wide24Codec<0, BigEndian, Unsigned>() : wide24Codec<8, BigEndian, Unsigned>();
        default: return {};
    }
}

template <typename F, bool BigEndian>
SampleCodec floatCodec() {
    return {nullptr, &decodeReal<F, BigEndian>, nullptr, &encodeFloat<F, BigEndian>, &countNothing};
}

template <typename F>
DirectConverter convertRealTo(unsigned outBits) {
    if constexpr (sizeof(F) == 4) {
        if (outBits == 16) return &floatToInt16;
        if (outBits == 32) return &floatToInt32;
    }
    switch (outBits) {
        case 8: return &convertReal<F, 8>;
        case 16: return &convertReal<F, 16>;
        case 24: return &convertReal<F, 24>;
        case 32: return &convertReal<F, 32>;
        default: return nullptr;
    }
}

}  // namespace

PCM_CPU_LEVELS void floatToInt32(const uint8_t* src, size_t count, uint8_t* out) {
    convertReal<float, 32>(src, count, out);
}

PCM_CPU_LEVELS void floatToInt16(const uint8_t* src, size_t count, uint8_t* out) {
    convertReal<float, 16>(src, count, out);
}

PCM_CPU_LEVELS void swapInt16(const uint8_t* src, size_t count, uint8_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t swapped = __builtin_bswap16(loadLittle<uint16_t>(src + 2 * i));
        std::memcpy(out + 2 * i, &swapped, 2);
    }
}

SampleCodec codecFor(const SampleEncoding& e) {
    const bool big = e.bigEndian;
    switch (e.kind) {
        case SampleKind::Float:
            if (e.containerBytes == 4) return big ? floatCodec<float, true>() : floatCodec<float, false>();
            if (e.containerBytes == 8) return big ? floatCodec<double, true>() : floatCodec<double, false>();
            return {};
        case SampleKind::UnsignedInt: return big ? intCodec<true, true>(e) : intCodec<false, true>(e);
        case SampleKind::SignedInt: break;
    }
    return big ? intCodec<true, false>(e) : intCodec<false, false>(e);
}

DirectConverter selectDirectConverter(const SampleEncoding& e, unsigned outBits) {
    if (e.kind == SampleKind::Float) {
        if (e.bigEndian) return nullptr;
        return e.containerBytes == 4 ? convertRealTo<float>(outBits) : convertRealTo<double>(outBits);
    }
    const bool packed = e.containerBytes * 8u == e.validBits;
    if (!packed || e.validBits != outBits) return nullptr;
    // The output is signed except at 8 bits, where it is offset binary.
    const SampleKind outKind = outBits == 8 ? SampleKind::UnsignedInt : SampleKind::SignedInt;
    if (e.kind != outKind) return nullptr;
    if (!e.bigEndian || outBits == 8) {
        switch (outBits) {
            case 8: return &copyConverter<1>;
            case 16: return &copyConverter<2>;
            case 24: return &copyConverter<3>;
            case 32: return &copyConverter<4>;
            default: return nullptr;
        }
    }
    return outBits == 16 ? &swapInt16 : nullptr;
}

}  // namespace pcm
