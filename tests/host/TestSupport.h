#pragma once
// Helpers of the host's tests: a private temporary directory, small sound files written with libsndfile.

#include <sndfile.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDirectory.h"

namespace host::test {

using TempDir = testing_support::TempDirectory;

// Writes interleaved samples as a sound file of `format` (container and
// subtype; ints keep their top bits, floats go as given).
template <typename Sample, typename Write>
void writeWav(const std::string& path, int rate, int channels, int format, const std::vector<Sample>& samples,
              Write write) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    write(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

inline void writeWav16(const std::string& path, int rate, int channels, const std::vector<short>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples, sf_write_short);
}
inline void writeWavInts(const std::string& path, int rate, int channels, int subformat,
                         const std::vector<int>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | subformat, samples, sf_write_int);
}
inline void writeWavFloat(const std::string& path, int rate, int channels, const std::vector<float>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT, samples, sf_write_float);
}

}  // namespace host::test
