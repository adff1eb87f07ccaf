#include "Generators.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace host {
namespace {

void checkRoom(std::span<double> out, size_t frames, uint32_t channels) {
    if (channels == 0 || out.size() / channels < frames)
        throw std::invalid_argument("the output cannot hold the frames asked for");
}

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
        const double turns = startFraction + static_cast<double>(k * hertz % rate) / static_cast<double>(rate);
        period_[k] = amplitude_ * std::sin(2.0 * std::numbers::pi * (turns - std::floor(turns)));
    }
}

void SineGenerator::render(double* out, uint64_t first, size_t frames, const FrameClock& clock) {
    if (clock.sampleRate != periodClock_.sampleRate || clock.startSeconds != periodClock_.startSeconds)
        preparePeriod(clock);
    if (!period_.empty()) {
        const size_t length = period_.size();
        size_t at = static_cast<size_t>(first % length);
        for (size_t done = 0; done < frames;) {
            const size_t run = std::min(frames - done, length - at);
            std::copy_n(period_.data() + at, run, out + done);
            done += run;
            at = 0;
        }
        return;
    }
    constexpr size_t block = SteppedSine::kBlock;
    tone_.setStep(frequency_ / clock.sampleRate);
    size_t done = 0;
    while (done < frames) {
        const uint64_t frame = first + done;
        const size_t offset = static_cast<size_t>(frame % block);
        tone_.setPhase(frequency_ * clock.secondsOf(frame - offset));
        const size_t run = std::min(frames - done, block - offset);
        tone_.renderSin(out + done, offset, run, amplitude_);
        done += run;
    }
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

void MelodyGenerator::render(double* out, uint64_t first, size_t frames, const FrameClock& clock) {
    constexpr size_t block = SteppedSine::kBlock;
    size_t done = 0;
    while (done < frames) {
        const uint64_t frame = first + done;
        const size_t offset = static_cast<size_t>(frame % block);
        const size_t run = std::min(frames - done, block - offset);
        renderBlock(frame - offset, offset, run, out + done, clock);
        done += run;
    }
}

void MelodyGenerator::renderBlock(uint64_t blockStart, size_t from, size_t count, double* out,
                                  const FrameClock& clock) {
    constexpr double attack = 0.01;
    constexpr double release = 0.08;
    // Walk the block from its first frame, one note at a time, so that where
    // a note changes does not depend on where the read began.
    const size_t end = from + count;
    size_t frame = 0;
    while (frame < end) {
        const NoteAt at = noteAt(clock.secondsOf(blockStart + frame));
        const double frequency = midiFrequency(at.note->midi);
        tone_.setStep(frequency / clock.sampleRate);
        tone_.setPhase(frequency * at.intoNote);
        const size_t noteStart = frame;
        for (; frame < end; ++frame) {
            const size_t k = frame - noteStart;
            const double into = at.intoNote + static_cast<double>(k) / clock.sampleRate;
            if (k > 0 && into >= at.length) break;  // the next note begins here
            if (frame < from) continue;
            const double envelope = std::clamp(std::min(into / attack, (at.length - into) / release), 0.0, 1.0);
            // A touch of second harmonic (sin 2x = 2 sin x cos x) makes the
            // tone less bare than a pure sine.
            const double s = tone_.sinAt(k);
            out[frame - from] = envelope * (0.4 * s + 0.1 * (2.0 * s * tone_.cosAt(k)));
        }
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

}  // namespace host
