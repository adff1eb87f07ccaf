#include "AudioEncoding.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace host {
namespace {

struct NamedLayout {
    std::string_view name;
    pcm::SampleEncoding layout;
};

constexpr pcm::SampleEncoding integer(uint8_t bits, bool bigEndian) {
    return {pcm::SampleKind::SignedInt, static_cast<uint8_t>(bits / 8), bits, bigEndian, false};
}

constexpr pcm::SampleEncoding real(uint8_t bits, bool bigEndian) {
    return {pcm::SampleKind::Float, static_cast<uint8_t>(bits / 8), bits, bigEndian, false};
}

constexpr std::array<NamedLayout, 11> kLayouts{{
    {"s8", integer(8, false)},
    {"s16le", integer(16, false)},
    {"s16be", integer(16, true)},
    {"s24le", integer(24, false)},
    {"s24be", integer(24, true)},
    {"s32le", integer(32, false)},
    {"s32be", integer(32, true)},
    {"f32le", real(32, false)},
    {"f32be", real(32, true)},
    {"f64le", real(64, false)},
    {"f64be", real(64, true)},
}};

}  // namespace

std::string sampleLayoutName(const pcm::SampleEncoding& layout) {
    for (const auto& entry : kLayouts)
        if (entry.layout == layout) return std::string(entry.name);
    return "?";
}

pcm::SampleEncoding parseSampleLayout(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& entry : kLayouts)
        if (entry.name == lower) return entry.layout;
    std::string accepted;
    for (const auto& entry : kLayouts) {
        if (!accepted.empty()) accepted += ", ";
        accepted += entry.name;
    }
    throw std::invalid_argument("unknown sample format \"" + std::string(text) + "\" (linear PCM only: " + accepted +
                                ")");
}

std::string AudioEncoding::describe() const {
    std::ostringstream rate;
    rate.precision(12);
    rate << sampleRate;
    return sampleLayoutName(layout) + " " + rate.str() + " Hz " + std::to_string(channels) + " ch" +
           (nonInterleaved ? " non-interleaved" : "") + ", " + std::to_string(framesPerBuffer) + " frames a buffer";
}

AudioStreamBasicDescription describeEncoding(const AudioEncoding& encoding) {
    return pcm::describeLayout(encoding.layout, encoding.sampleRate, encoding.channels, !encoding.nonInterleaved);
}

AudioEncoding defaultAppEncoding() { return {integer(16, true), 44100, 2, 22050, false}; }

AudioEncoding defaultMicEncoding() { return {integer(16, false), 48000, 1, 1024, false}; }

}  // namespace host
