#pragma once
// A recording as libsndfile (a reader users open recordings with) reads it, and its pitch.

#include <sndfile.h>

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

}  // namespace testing_support
