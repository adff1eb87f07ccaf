#pragma once
// Helpers shared by the host's tests: a private temporary directory and
// small sound files written with libsndfile.

#include <sndfile.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/TempDirectory.h"

namespace host::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents.
using TempDir = testing_support::TempDirectory;

// Writes interleaved samples as a WAV file of `format`, through libsndfile's
// writer for their type.
template <typename Sample, typename Write>
void writeWav(const std::string& path, int rate, int channels, int format, const std::vector<Sample>& samples,
              Write write, bool normalised = true) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    if (!normalised) sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    write(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Writes interleaved 16-bit codes as a WAV file.
inline void writeWav16(const std::string& path, int rate, int channels, const std::vector<short>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, samples, sf_write_short);
}

// Writes interleaved 32-bit values as a WAV file of the given integer
// subformat (SF_FORMAT_PCM_U8, _24, _32, ...): libsndfile keeps the top bits.
inline void writeWavInts(const std::string& path, int rate, int channels, int subformat,
                         const std::vector<int>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | subformat, samples, sf_write_int);
}

// Writes interleaved floats as a 32-bit float WAV file, values as given.
inline void writeWavFloat(const std::string& path, int rate, int channels, const std::vector<float>& samples) {
    writeWav(path, rate, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT, samples, sf_write_float, false);
}

}  // namespace host::test
