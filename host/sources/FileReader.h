#pragma once
// Reads any sound file libsndfile understands (WAV, FLAC, Ogg, ...) at its
// own rate and channel count, as doubles at full scale 1.0. Integer samples
// come out exactly (a 16-bit code c reads as c / 32768). Uncompressed files
// are read as their stored bytes, a large block at a time, and decoded by
// the PCM toolkit; the others are decoded by libsndfile. A file that ends
// before the length its header gave ends the stream there, with a warning.
// A FIFO or a device is read through a pump, so that a stop request ends the
// stream even while its writer pauses.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioSource.h"
#include "InputPump.h"
#include "platform/pcm/SampleCodecs.h"
#include "toolkit/StopSignals.h"

struct sf_private_tag;

namespace host {

class FileReader final : public PcmReader {
public:
    // Opens `path`; throws SourceError (exit "bad source") naming the file
    // and saying why when it cannot be read.
    explicit FileReader(const std::string& path, toolkit::StopToken stop = {});
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    size_t read(double* out, size_t frames) override;

private:
    // The frame count libsndfile returned for `asked`; throws SourceError on
    // a read failure, and warns once when the file ends before the length
    // its header gave (it was cut short while it played).
    size_t checked(int64_t got, size_t asked);

    std::string path_;
    toolkit::StopToken stop_;
    int fd_ = -1;                    // a regular file, read by libsndfile
    std::optional<InputPump> pump_;  // an input that may wait for ever
    sf_private_tag* file_ = nullptr;
    double sampleRate_ = 0;
    uint32_t channels_ = 0;
    int64_t framesExpected_ = 0;
    int64_t framesRead_ = 0;
    // Uncompressed files: the stored bytes of whole frames, read ahead.
    pcm::RealDecoder decode_ = nullptr;
    size_t frameBytes_ = 0;
    std::vector<uint8_t> block_;
    size_t blockAt_ = 0;
    size_t blockEnd_ = 0;
};

}  // namespace host
