#include "SampleCodec.h"

#include <bit>
#include <cassert>
#include <cmath>

namespace host {
namespace {

void storeBytes(uint64_t raw, uint32_t bytes, bool bigEndian, std::byte* out) {
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint32_t shift = 8 * (bigEndian ? bytes - 1 - i : i);
        out[i] = static_cast<std::byte>((raw >> shift) & 0xFF);
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

}  // namespace

int64_t quantizeSample(double value, uint32_t bits, bool& clipped) {
    const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1);
    const double maxCode = scale - 1.0;
    const double minCode = -scale;
    clipped = false;
    if (std::isnan(value)) return 0;
    const double rounded = std::nearbyint(value * scale);
    if (rounded > maxCode) {
        clipped = true;
        return static_cast<int64_t>(maxCode);
    }
    if (rounded < minCode) {
        clipped = true;
        return static_cast<int64_t>(minCode);
    }
    return static_cast<int64_t>(rounded);
}

uint64_t encodeSamples(std::span<const double> interleaved, uint32_t channels,
                       const SampleLayout& layout, bool nonInterleaved, std::span<std::byte> out) {
    const uint32_t bytes = layout.bytesPerSample();
    assert(channels > 0 && interleaved.size() % channels == 0);
    assert(out.size() == interleaved.size() * bytes);
    const size_t frames = interleaved.size() / channels;
    uint64_t clippedCount = 0;
    for (size_t frame = 0; frame < frames; ++frame) {
        for (uint32_t channel = 0; channel < channels; ++channel) {
            const double value = interleaved[frame * channels + channel];
            const size_t slot = nonInterleaved ? channel * frames + frame : frame * channels + channel;
            uint64_t raw = 0;
            if (layout.kind == SampleKind::Float) {
                raw = layout.bits == 32 ? std::bit_cast<uint32_t>(static_cast<float>(value))
                                        : std::bit_cast<uint64_t>(value);
            } else {
                bool clipped = false;
                raw = static_cast<uint64_t>(quantizeSample(value, layout.bits, clipped));
                clippedCount += clipped ? 1 : 0;
            }
            storeBytes(raw, bytes, layout.bigEndian, out.data() + slot * bytes);
        }
    }
    return clippedCount;
}

void decodeSamples(std::span<const std::byte> in, const SampleLayout& layout, std::span<double> out) {
    const uint32_t bytes = layout.bytesPerSample();
    assert(in.size() == out.size() * bytes);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint64_t raw = loadBytes(in.data() + i * bytes, bytes, layout.bigEndian);
        if (layout.kind == SampleKind::Float) {
            out[i] = layout.bits == 32 ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(raw)))
                                       : std::bit_cast<double>(raw);
        } else {
            // Sign-extend the N-bit code, then scale back to full scale 1.0.
            const uint32_t unused = 64 - layout.bits;
            const auto code = static_cast<int64_t>(raw << unused) >> unused;
            out[i] = std::ldexp(static_cast<double>(code), -static_cast<int>(layout.bits - 1));
        }
    }
}

}  // namespace host
