#include "SampleLayout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <sstream>
#include <stdexcept>

#include "platform/buffers/CMSampleBuffer.h"

namespace host {
namespace {

struct NamedLayout {
    std::string_view name;
    SampleLayout layout;
};

constexpr std::array<NamedLayout, 11> kLayouts{{
    {"s8", {SampleKind::SignedInteger, 8, false}},
    {"s16le", {SampleKind::SignedInteger, 16, false}},
    {"s16be", {SampleKind::SignedInteger, 16, true}},
    {"s24le", {SampleKind::SignedInteger, 24, false}},
    {"s24be", {SampleKind::SignedInteger, 24, true}},
    {"s32le", {SampleKind::SignedInteger, 32, false}},
    {"s32be", {SampleKind::SignedInteger, 32, true}},
    {"f32le", {SampleKind::Float, 32, false}},
    {"f32be", {SampleKind::Float, 32, true}},
    {"f64le", {SampleKind::Float, 64, false}},
    {"f64be", {SampleKind::Float, 64, true}},
}};

}  // namespace

std::string SampleLayout::name() const {
    for (const auto& entry : kLayouts)
        if (entry.layout == *this) return std::string(entry.name);
    return "?";
}

SampleLayout parseSampleLayout(std::string_view text) {
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
    throw std::invalid_argument("unknown sample format \"" + std::string(text) +
                                "\" (linear PCM only: " + accepted + ")");
}

std::string AudioEncoding::describe() const {
    std::ostringstream rate;
    rate.precision(12);
    rate << sampleRate;
    return layout.name() + " " + rate.str() + " Hz " + std::to_string(channels) +
           " ch" + (nonInterleaved ? " non-interleaved" : "") + ", " +
           std::to_string(framesPerBuffer) + " frames a buffer";
}

AudioStreamBasicDescription describeEncoding(const AudioEncoding& encoding) {
    AudioFormatFlags flags = encoding.layout.kind == SampleKind::Float ? kAudioFormatFlagIsFloat
                                                                      : kAudioFormatFlagIsSignedInteger;
    if (encoding.layout.bigEndian) flags |= kAudioFormatFlagIsBigEndian;
    if (encoding.nonInterleaved) flags |= kAudioFormatFlagIsNonInterleaved;
    return makeLinearPCMDescription(encoding.sampleRate, encoding.channels, encoding.layout.bits, flags);
}

AudioEncoding defaultAppEncoding() {
    return {{SampleKind::SignedInteger, 16, true}, 44100, 2, 22050, false};
}

AudioEncoding defaultMicEncoding() {
    return {{SampleKind::SignedInteger, 16, false}, 48000, 1, 1024, false};
}

}  // namespace host
