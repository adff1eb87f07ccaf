#pragma once
// Built-in sound: a sine at a frequency, a short melody a listener
// recognises, seeded white noise, and silence. Sine and melody are functions
// of time since the source started, so their sound continues across a change
// of sample rate.

#include <cstdint>
#include <memory>
#include <random>

#include "AudioSource.h"

namespace host {

// Base for generators whose value depends only on the time since the start.
class TimedGenerator : public AudioSource {
public:
    size_t read(std::span<double> out, size_t frames, uint32_t sampleRate, uint32_t channels) final;
    bool finite() const final { return false; }

protected:
    virtual double valueAt(double seconds) const = 0;

private:
    double secondsBeforeRate_ = 0;  // time produced at earlier rates
    uint64_t framesAtRate_ = 0;
    uint32_t rate_ = 0;
};

class SineGenerator final : public TimedGenerator {
public:
    explicit SineGenerator(double frequency, double amplitude = 0.5)
        : frequency_(frequency), amplitude_(amplitude) {}

protected:
    double valueAt(double seconds) const override;

private:
    double frequency_;
    double amplitude_;
};

// "Twinkle, Twinkle, Little Star", first line, at 120 beats a minute, looped
// every 8 seconds; each note fades in and out so repeated notes are heard apart.
class MelodyGenerator final : public TimedGenerator {
public:
    static constexpr double kBeatSeconds = 0.5;
    static constexpr double kLoopSeconds = 8.0;
    // Frequency of the note sounding at `seconds` into the melody.
    static double noteFrequencyAt(double seconds);

protected:
    double valueAt(double seconds) const override;
};

// Uniform white noise at half full scale, independent on every channel; the
// same seed gives the same samples.
class NoiseGenerator final : public AudioSource {
public:
    explicit NoiseGenerator(uint64_t seed) : engine_(seed) {}
    size_t read(std::span<double> out, size_t frames, uint32_t sampleRate, uint32_t channels) override;
    bool finite() const override { return false; }

private:
    std::mt19937_64 engine_;
};

class SilenceGenerator final : public AudioSource {
public:
    size_t read(std::span<double> out, size_t frames, uint32_t sampleRate, uint32_t channels) override;
    bool finite() const override { return false; }
};

}  // namespace host
