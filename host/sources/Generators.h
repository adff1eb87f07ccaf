#pragma once
// Built-in sound: a sine at a frequency, a short melody a listener
// recognises, seeded white noise, and silence. Sine and melody are functions
// of time since the source started, so their sound continues across a change
// of sample rate.

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "AudioSource.h"

namespace host {

// When each frame at the current rate sounds.
struct FrameClock {
    double startSeconds = 0;  // time of frame 0: what earlier rates produced
    double sampleRate = 0;
    double secondsOf(uint64_t frame) const { return startSeconds + static_cast<double>(frame) / sampleRate; }
};

// Base for generators whose value depends only on the time since the start:
// each frame's value comes from its own time, so it does not depend on how
// the reads were cut.
class TimedGenerator : public AudioSource {
public:
    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) final;

protected:
    // Writes the values of frames first .. first + frames - 1 to out[0] ..
    // out[frames - 1]. Successive calls continue one another; a new rate
    // starts again at frame 0 with a new clock.
    virtual void render(double* out, uint64_t first, size_t frames, const FrameClock& clock) = 0;

private:
    double secondsBeforeRate_ = 0;  // time produced at earlier rates
    uint64_t framesAtRate_ = 0;
    double rate_ = 0;
};

// A tone of a whole number of hertz at a whole rate repeats exactly every
// rate / gcd(rate, frequency) frames; when that is short, one period is rendered per rate and
// later frames are copied from it (the microphone's tone of an hour-long
// broadcast then costs little more than the copy).
class SineGenerator final : public TimedGenerator {
public:
    static constexpr uint64_t kMaxPeriodFrames = 8192;

    explicit SineGenerator(double frequency, double amplitude = 0.5) : frequency_(frequency), amplitude_(amplitude) {}

protected:
    void render(double* out, uint64_t first, size_t frames, const FrameClock& clock) override;

private:
    // Renders one period for `clock`, or leaves period_ empty when the tone
    // has no short exact period at its rate.
    void preparePeriod(const FrameClock& clock);

    double frequency_;
    double amplitude_;
    FrameClock periodClock_{-1, 0};  // the clock period_ was made for
    std::vector<double> period_;
};

// "Twinkle, Twinkle, Little Star", first line, at 120 beats a minute, looped
// every 8 seconds; each note fades in and out so repeated notes are heard apart.
class MelodyGenerator final : public TimedGenerator {
public:
    static constexpr double kBeatSeconds = 0.5;

protected:
    void render(double* out, uint64_t first, size_t frames, const FrameClock& clock) override;
};

// Uniform white noise at half full scale, independent on every channel; the
// same seed gives the same samples.
class NoiseGenerator final : public AudioSource {
public:
    explicit NoiseGenerator(uint64_t seed) : engine_(seed) {}
    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;

private:
    std::mt19937_64 engine_;
};

// Silence is zero, which every signed and float layout stores as zero
// bytes: those are delivered as they are, with nothing to convert (a live
// broadcast's microphone is silence for as long as it lasts).
class SilenceGenerator final : public AudioSource {
public:
    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;
    bool deliversEncoded(const AudioEncoding& encoding) const override {
        return encoding.layout.kind != pcm::SampleKind::UnsignedInt;
    }
    size_t readEncoded(std::span<std::byte> out, size_t frames) override;
};

}  // namespace host
