#include "Generators.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace host {
namespace {

void checkRoom(std::span<double> out, size_t frames, uint32_t channels) {
    if (channels == 0 || out.size() / channels < frames)
        throw std::invalid_argument("the output cannot hold the frames asked for");
}

// The sine of a phase in cycles, reduced first so that a large phase keeps
// full precision.
double sineOfCycles(double cycles) { return std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles))); }

}  // namespace

size_t TimedGenerator::read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) {
    checkRoom(out, frames, channels);
    if (sampleRate != rate_) {
        if (rate_ != 0) secondsBeforeRate_ += static_cast<double>(framesAtRate_) / rate_;
        rate_ = sampleRate;
        framesAtRate_ = 0;
    }
    render(out.data(), framesAtRate_, frames, FrameClock{secondsBeforeRate_, sampleRate});
    if (channels > 1) {
        // Spread each frame's value over its channels, last frame first so
        // that no value is overwritten before it is read.
        for (size_t frame = frames; frame-- > 0;) {
            const double value = out[frame];
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(frame * channels), channels, value);
        }
    }
    framesAtRate_ += frames;
    return frames;
}

void SineGenerator::preparePeriod(const FrameClock& clock) {
    periodClock_ = clock;
    period_.clear();
    const double f = frequency_;
    if (!(f >= 1 && f < 4294967296.0) || f != std::floor(f)) return;
    if (clock.sampleRate != std::floor(clock.sampleRate)) return;
    const auto hertz = static_cast<uint64_t>(f);
    const auto rate = static_cast<uint64_t>(clock.sampleRate);
    const uint64_t frames = rate / std::gcd(rate, hertz);
    if (frames > kMaxPeriodFrames) return;
    // Frame k sounds at phase start + k * hertz / rate cycles; the second
    // term is reduced exactly in integers before it meets the start.
    const double start = f * clock.startSeconds;
    const double startFraction = start - std::floor(start);
    period_.resize(static_cast<size_t>(frames));
    for (uint64_t k = 0; k < frames; ++k) {
        period_[k] = amplitude_ *
                     sineOfCycles(startFraction + static_cast<double>(k * hertz % rate) / static_cast<double>(rate));
    }
}

void SineGenerator::render(double* out, uint64_t first, size_t frames, const FrameClock& clock) {
    if (clock.sampleRate != periodClock_.sampleRate || clock.startSeconds != periodClock_.startSeconds)
        preparePeriod(clock);
    if (period_.empty()) {
        for (size_t i = 0; i < frames; ++i) out[i] = amplitude_ * sineOfCycles(frequency_ * clock.secondsOf(first + i));
        return;
    }
    const size_t length = period_.size();
    size_t at = static_cast<size_t>(first % length);
    for (size_t done = 0; done < frames;) {
        const size_t run = std::min(frames - done, length - at);
        std::copy_n(period_.data() + at, run, out + done);
        done += run;
        at = 0;
    }
}

namespace {

struct Note {
    int midi;  // 60 = middle C
    int beats;
};

// C C G G A A G- F F E E D D C-, sixteen beats.
constexpr std::array<Note, 14> kMelody{{{72, 1},
                                        {72, 1},
                                        {79, 1},
                                        {79, 1},
                                        {81, 1},
                                        {81, 1},
                                        {79, 2},
                                        {77, 1},
                                        {77, 1},
                                        {76, 1},
                                        {76, 1},
                                        {74, 1},
                                        {74, 1},
                                        {72, 2}}};
constexpr size_t kLoopBeats = 16;

// What sounds on one beat of the loop.
struct Beat {
    double frequency;
    double beatsBefore;  // beats of the note already gone when the beat begins
    double length;       // seconds the note lasts
};

const std::array<Beat, kLoopBeats>& beats() {
    static const std::array<Beat, kLoopBeats> table = [] {
        std::array<Beat, kLoopBeats> t{};
        size_t beat = 0;
        for (const Note& note : kMelody)
            for (int b = 0; b < note.beats; ++b)
                t[beat++] = {440.0 * std::exp2((note.midi - 69) / 12.0), static_cast<double>(b),
                             note.beats * MelodyGenerator::kBeatSeconds};
        return t;
    }();
    return table;
}

}  // namespace

void MelodyGenerator::render(double* out, uint64_t first, size_t frames, const FrameClock& clock) {
    constexpr double kFadeIn = 1 / 0.01;   // a 10 ms attack...
    constexpr double kFadeOut = 1 / 0.08;  // ...and an 80 ms release, as rates
    const std::array<Beat, kLoopBeats>& table = beats();
    const double beatsPerFrame = 1 / (clock.sampleRate * kBeatSeconds);
    for (size_t i = 0; i < frames; ++i) {
        // Where the frame falls in its beat and its note, from its own time.
        const double beatsIn = clock.startSeconds / kBeatSeconds + static_cast<double>(first + i) * beatsPerFrame;
        const auto beat = static_cast<int64_t>(beatsIn);
        const Beat& now = table[static_cast<size_t>(beat) % kLoopBeats];
        const double into = (beatsIn - static_cast<double>(beat) + now.beatsBefore) * kBeatSeconds;
        const double envelope = std::clamp(std::min(into * kFadeIn, (now.length - into) * kFadeOut), 0.0, 1.0);
        // The phase in whole cycles dropped, so that a float sine (precise
        // to far below a 16-bit step, and twice as fast) can take it.
        const double cycles = now.frequency * into;
        const double turn = cycles - static_cast<double>(static_cast<int64_t>(cycles));
        out[i] = envelope * 0.5 * std::sin(static_cast<float>(2 * std::numbers::pi * turn));
    }
}

size_t NoiseGenerator::read(std::span<double> out, size_t frames, double, uint32_t channels) {
    checkRoom(out, frames, channels);
    for (size_t i = 0; i < frames * channels; ++i) {
        // 53 random bits give a uniform value in [0, 1).
        const double unit = static_cast<double>(engine_() >> 11) * 0x1p-53;
        out[i] = unit - 0.5;
    }
    return frames;
}

size_t SilenceGenerator::read(std::span<double> out, size_t frames, double, uint32_t channels) {
    checkRoom(out, frames, channels);
    std::fill_n(out.begin(), frames * channels, 0.0);
    return frames;
}

size_t SilenceGenerator::readEncoded(std::span<std::byte> out, size_t frames) {
    std::memset(out.data(), 0, out.size());
    return frames;
}

}  // namespace host
