#include "SampleCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "QuantizeKernel.h"

namespace host {
namespace {

constexpr bool kNativeBigEndian = std::endian::native == std::endian::big;

// Writes the low `Bytes` bytes of `raw` in the given byte order. The 2-, 4-
// and 8-byte cases compile to a load-free store (and a byte swap).
template <uint32_t Bytes, bool BigEndian>
inline void storeRaw(std::byte* at, uint64_t raw) {
    if constexpr (Bytes == 1) {
        at[0] = static_cast<std::byte>(raw & 0xFF);
    } else if constexpr (Bytes == 2) {
        auto value = static_cast<uint16_t>(raw);
        if constexpr (BigEndian != kNativeBigEndian) value = __builtin_bswap16(value);
        std::memcpy(at, &value, 2);
    } else if constexpr (Bytes == 4) {
        auto value = static_cast<uint32_t>(raw);
        if constexpr (BigEndian != kNativeBigEndian) value = __builtin_bswap32(value);
        std::memcpy(at, &value, 4);
    } else if constexpr (Bytes == 8) {
        if constexpr (BigEndian != kNativeBigEndian) raw = __builtin_bswap64(raw);
        std::memcpy(at, &raw, 8);
    } else {
        for (uint32_t i = 0; i < Bytes; ++i) {
            const uint32_t shift = 8 * (BigEndian ? Bytes - 1 - i : i);
            at[i] = static_cast<std::byte>((raw >> shift) & 0xFF);
        }
    }
}

uint64_t loadBytes(const std::byte* in, uint32_t bytes, bool bigEndian) {
    uint64_t raw = 0;
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t shift = 8 * (bigEndian ? bytes - 1 - i : i);
        raw |= static_cast<uint64_t>(std::to_integer<uint8_t>(in[i])) << shift;
    }
    return raw;
}

// Where frames of a partly filled buffer go.
struct Placement {
    uint32_t channels;
    bool nonInterleaved;
    std::byte* out;
    size_t totalFrames;  // frames the whole buffer holds
    size_t firstFrame;   // first frame this part fills
};

// Encodes `count` interleaved values, each converted to its raw bits by
// `convert(value, clipped)`, into their places in the buffer.
template <uint32_t Bytes, bool BigEndian, typename Value, typename Convert>
uint64_t place(const Value* in, size_t count, const Placement& at, Convert convert) {
    uint64_t clipped = 0;
    if (!at.nonInterleaved || at.channels == 1) {
        std::byte* out = at.out + at.firstFrame * at.channels * Bytes;
        for (size_t i = 0; i < count; ++i) storeRaw<Bytes, BigEndian>(out + i * Bytes, convert(in[i], clipped));
        return clipped;
    }
    const size_t frames = count / at.channels;
    for (uint32_t channel = 0; channel < at.channels; ++channel) {
        std::byte* plane = at.out + (channel * at.totalFrames + at.firstFrame) * Bytes;
        const Value* from = in + channel;
        for (size_t frame = 0; frame < frames; ++frame)
            storeRaw<Bytes, BigEndian>(plane + frame * Bytes, convert(from[frame * at.channels], clipped));
    }
    return clipped;
}

template <uint32_t Bytes, typename Value, typename Convert>
uint64_t placeInOrder(bool bigEndian, const Value* in, size_t count, const Placement& at, Convert convert) {
    return bigEndian ? place<Bytes, true>(in, count, at, convert) : place<Bytes, false>(in, count, at, convert);
}

// Checks that `values` samples from `firstFrame` fit the buffer `out` and
// works out where they go.
Placement placementFor(size_t values, uint32_t channels, uint32_t bytes, bool nonInterleaved,
                       std::span<std::byte> out, size_t firstFrame) {
    const size_t frameBytes = static_cast<size_t>(channels) * bytes;
    if (channels == 0 || bytes == 0 || values % channels != 0 || out.size() % frameBytes != 0)
        throw std::invalid_argument("samples do not make whole frames of the buffer");
    const size_t totalFrames = out.size() / frameBytes;
    if (firstFrame > totalFrames || values / channels > totalFrames - firstFrame)
        throw std::invalid_argument("samples run past the end of the buffer");
    return {channels, nonInterleaved, out.data(), totalFrames, firstFrame};
}

}  // namespace

int64_t quantizeSample(double value, uint32_t bits, bool& clipped) {
    int32_t code = 0;
    clipped = quantizeToCodes(&value, 1, bits, &code) != 0;
    return code;
}

uint64_t encodeSamplesAt(std::span<const double> interleaved, uint32_t channels, const SampleLayout& layout,
                         bool nonInterleaved, std::span<std::byte> out, size_t firstFrame) {
    const Placement at =
        placementFor(interleaved.size(), channels, layout.bytesPerSample(), nonInterleaved, out, firstFrame);
    const double* in = interleaved.data();
    const size_t count = interleaved.size();
    if (layout.kind == SampleKind::Float) {
        if (layout.bits == 32)
            return placeInOrder<4>(layout.bigEndian, in, count, at, [](double value, uint64_t&) -> uint64_t {
                return std::bit_cast<uint32_t>(static_cast<float>(value));
            });
        return placeInOrder<8>(layout.bigEndian, in, count, at,
                               [](double value, uint64_t&) { return std::bit_cast<uint64_t>(value); });
    }
    // Integers: codes a piece of whole frames at a time through a small
    // area on the stack, then laid into place.
    std::array<int32_t, 2048> codes;
    if (layout.bits != 8 && layout.bits != 16 && layout.bits != 24 && layout.bits != 32)
        throw std::invalid_argument("unsupported sample layout " + layout.name());
    if (channels > codes.size()) throw std::invalid_argument("too many channels");
    const size_t pieceValues = codes.size() / channels * channels;
    const auto asRaw = [](int32_t code, uint64_t&) { return static_cast<uint64_t>(static_cast<uint32_t>(code)); };
    uint64_t clipped = 0;
    for (size_t done = 0; done < count;) {
        const size_t values = std::min(pieceValues, count - done);
        clipped += quantizeToCodes(in + done, values, layout.bits, codes.data());
        Placement piece = at;
        piece.firstFrame = at.firstFrame + done / channels;
        switch (layout.bits) {
            case 8: place<1, false>(codes.data(), values, piece, asRaw); break;
            case 16: placeInOrder<2>(layout.bigEndian, codes.data(), values, piece, asRaw); break;
            case 24: placeInOrder<3>(layout.bigEndian, codes.data(), values, piece, asRaw); break;
            default: placeInOrder<4>(layout.bigEndian, codes.data(), values, piece, asRaw); break;
        }
        done += values;
    }
    return clipped;
}

uint64_t encodeSamples(std::span<const double> interleaved, uint32_t channels, const SampleLayout& layout,
                       bool nonInterleaved, std::span<std::byte> out) {
    if (out.size() != interleaved.size() * layout.bytesPerSample())
        throw std::invalid_argument("the output does not hold exactly the samples given");
    return encodeSamplesAt(interleaved, channels, layout, nonInterleaved, out, 0);
}

void storeCodes16At(std::span<const int16_t> interleaved, uint32_t channels, bool bigEndian, bool nonInterleaved,
                    std::span<std::byte> out, size_t firstFrame) {
    const Placement at = placementFor(interleaved.size(), channels, 2, nonInterleaved, out, firstFrame);
    placeInOrder<2>(bigEndian, interleaved.data(), interleaved.size(), at,
                    [](int16_t code, uint64_t&) { return static_cast<uint64_t>(static_cast<uint16_t>(code)); });
}

void decodeSamples(std::span<const std::byte> in, const SampleLayout& layout, std::span<double> out) {
    const uint32_t bytes = layout.bytesPerSample();
    if (in.size() != out.size() * bytes)
        throw std::invalid_argument("the input does not hold exactly the samples asked for");
    // Dividing by a power of two is exact: multiply by its inverse.
    const double unit = std::ldexp(1.0, 1 - static_cast<int>(layout.bits));
    const uint32_t unused = 64 - layout.bits;
    for (size_t i = 0; i < out.size(); ++i) {
        const uint64_t raw = loadBytes(in.data() + i * bytes, bytes, layout.bigEndian);
        if (layout.kind == SampleKind::Float) {
            out[i] = layout.bits == 32 ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(raw)))
                                       : std::bit_cast<double>(raw);
        } else {
            // Sign-extend the N-bit code, then scale back to full scale 1.0.
            const auto code = static_cast<int64_t>(raw << unused) >> unused;
            out[i] = static_cast<double>(code) * unit;
        }
    }
}

}  // namespace host
