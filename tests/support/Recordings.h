#pragma once
// A recording as libsndfile (a reader users open recordings with) reads it, and its pitch.

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct Recording {
    bool opened = false;
    SF_INFO info{};
    std::vector<int32_t> samples;  // interleaved, scaled to the full 32-bit range

    int32_t at(size_t frame, int channel = 0) const { return samples[frame * info.channels + channel]; }
};

inline Recording readRecording(const std::string& path) {
    Recording r;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &r.info);
    if (file == nullptr) return r;
    r.opened = true;
    r.samples.resize(static_cast<size_t>(r.info.frames * r.info.channels));
    sf_read_int(file, r.samples.data(), static_cast<sf_count_t>(r.samples.size()));
    sf_close(file);
    return r;
}

// Rising zero crossings of the first channel per second, over frames [from, to).
inline double hertz(const Recording& r, size_t from, size_t to) {
    size_t rising = 0;
    for (size_t i = from + 1; i < to; ++i) rising += r.at(i - 1) < 0 && r.at(i) >= 0 ? 1 : 0;
    return static_cast<double>(rising) * r.info.samplerate / static_cast<double>(to - from);
}

// The level in dB relative to full scale of a `hz` tone in `channel` over
// frames [from, from + count) (the Goertzel filter).
inline double toneDb(const Recording& r, double hz, size_t from, size_t count, int channel = 0) {
    const double w = 2 * M_PI * hz / r.info.samplerate;
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + count; ++i) {
        const double s0 = r.at(i, channel) / 2147483648.0 + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 20 * std::log10(std::max(2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count), 1e-12));
}

}  // namespace testing_support
