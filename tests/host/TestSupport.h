#pragma once
// Helpers shared by the host's tests: a private temporary directory and
// small sound files written with libsndfile.

#include <sndfile.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace host::test {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
public:
    TempDir() {
        const char* parent = std::getenv("TMPDIR");
        std::string pattern = std::string(parent != nullptr && parent[0] == '/' ? parent : "/tmp") + "/host-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes interleaved 16-bit codes as a WAV file.
inline void writeWav16(const std::string& path, int rate, int channels, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Writes interleaved 32-bit values as a WAV file of the given integer
// subformat (SF_FORMAT_PCM_U8, _24, _32, ...): libsndfile keeps the top bits.
inline void writeWavInts(const std::string& path, int rate, int channels, int subformat,
                         const std::vector<int>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | subformat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    sf_write_int(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

// Writes interleaved floats as a 32-bit float WAV file, values as given.
inline void writeWavFloat(const std::string& path, int rate, int channels, const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error(sf_strerror(nullptr));
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    sf_write_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

}  // namespace host::test
