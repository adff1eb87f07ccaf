#include "Generators.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace host {

size_t TimedGenerator::read(std::span<double> out, size_t frames, uint32_t sampleRate,
                            uint32_t channels) {
    if (sampleRate != rate_) {
        if (rate_ != 0) secondsBeforeRate_ += static_cast<double>(framesAtRate_) / rate_;
        rate_ = sampleRate;
        framesAtRate_ = 0;
    }
    for (size_t frame = 0; frame < frames; ++frame) {
        const double seconds =
            secondsBeforeRate_ + static_cast<double>(framesAtRate_ + frame) / sampleRate;
        const double value = valueAt(seconds);
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(frame * channels), channels, value);
    }
    framesAtRate_ += frames;
    return frames;
}

double SineGenerator::valueAt(double seconds) const {
    // Reduce the phase first so long runs keep full precision.
    const double cycles = frequency_ * seconds;
    return amplitude_ * std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles)));
}

namespace {

struct Note {
    int midi;     // 60 = middle C
    int beats;
};

// C C G G A A G- F F E E D D C-
constexpr std::array<Note, 14> kMelody{{{72, 1}, {72, 1}, {79, 1}, {79, 1}, {81, 1}, {81, 1}, {79, 2},
                                        {77, 1}, {77, 1}, {76, 1}, {76, 1}, {74, 1}, {74, 1}, {72, 2}}};

double midiFrequency(int midi) { return 440.0 * std::exp2((midi - 69) / 12.0); }

struct NoteAt {
    const Note* note;
    double intoNote;   // seconds since the note began
    double length;     // seconds the note lasts
};

NoteAt noteAt(double seconds) {
    double t = std::fmod(seconds, MelodyGenerator::kLoopSeconds);
    for (const Note& note : kMelody) {
        const double length = note.beats * MelodyGenerator::kBeatSeconds;
        if (t < length) return {&note, t, length};
        t -= length;
    }
    return {&kMelody.back(), kMelody.back().beats * MelodyGenerator::kBeatSeconds, 0};
}

}  // namespace

double MelodyGenerator::noteFrequencyAt(double seconds) { return midiFrequency(noteAt(seconds).note->midi); }

double MelodyGenerator::valueAt(double seconds) const {
    const NoteAt at = noteAt(seconds);
    constexpr double attack = 0.01;
    constexpr double release = 0.08;
    const double envelope = std::clamp(std::min(at.intoNote / attack, (at.length - at.intoNote) / release), 0.0, 1.0);
    const double phase = 2.0 * std::numbers::pi * midiFrequency(at.note->midi) * at.intoNote;
    // A touch of second harmonic makes the tone less bare than a pure sine.
    return envelope * (0.4 * std::sin(phase) + 0.1 * std::sin(2.0 * phase));
}

size_t NoiseGenerator::read(std::span<double> out, size_t frames, uint32_t, uint32_t channels) {
    for (size_t i = 0; i < frames * channels; ++i) {
        // 53 random bits give a uniform value in [0, 1).
        const double unit = std::ldexp(static_cast<double>(engine_() >> 11), -53);
        out[i] = unit - 0.5;
    }
    return frames;
}

size_t SilenceGenerator::read(std::span<double> out, size_t frames, uint32_t, uint32_t channels) {
    std::fill_n(out.begin(), frames * channels, 0.0);
    return frames;
}

}  // namespace host
