#pragma once
// Reads any sound file libsndfile understands (WAV, FLAC, Ogg, ...) at its
// own rate and channel count, as doubles at full scale 1.0. Integer samples
// come out exactly (a 16-bit code c reads as c / 32768).

#include <memory>
#include <string>

#include "AudioSource.h"

struct sf_private_tag;

namespace host {

class FileReader final : public PcmReader {
public:
    // Opens `path`; throws SourceError (exit "bad source") naming the file
    // and libsndfile's reason when it cannot be read.
    explicit FileReader(const std::string& path);
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    uint32_t sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    size_t read(double* out, size_t frames) override;

private:
    std::string path_;
    sf_private_tag* file_ = nullptr;
    uint32_t sampleRate_ = 0;
    uint32_t channels_ = 0;
};

}  // namespace host
