#pragma once
// Reads any sound file libsndfile understands (WAV, FLAC, Ogg, ...) at its
// own rate and channel count, as doubles at full scale 1.0. Integer samples
// come out exactly (a 16-bit code c reads as c / 32768); 16-bit files can
// also be read as the codes themselves. A file that ends before the length
// its header gave ends the stream there, with a warning.

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

    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    size_t read(double* out, size_t frames) override;
    // 16-bit integer files (any container) hand their codes over as they are.
    bool holdsCodes16() const override { return codes16_; }
    size_t readCodes16(int16_t* out, size_t frames) override;

private:
    // The frame count libsndfile returned for `asked`; throws SourceError on
    // a read failure, and warns once when the file ends before the length
    // its header gave (it was cut short while it played).
    size_t checked(int64_t got, size_t asked);

    std::string path_;
    sf_private_tag* file_ = nullptr;
    double sampleRate_ = 0;
    uint32_t channels_ = 0;
    bool codes16_ = false;
    int64_t framesExpected_ = 0;
    int64_t framesRead_ = 0;
};

}  // namespace host
