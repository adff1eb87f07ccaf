#pragma once
// Reads raw interleaved PCM in a stated layout, rate and channel count from a
// file descriptor (standard input). A trailing partial frame is dropped
// with a warning.

#include <cstddef>
#include <vector>

#include "AudioSource.h"
#include "host/encoding/SampleLayout.h"

namespace host {

class RawPcmReader final : public PcmReader {
public:
    RawPcmReader(int fd, SampleLayout layout, double sampleRate, uint32_t channels);

    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    // Throws SourceError when the descriptor cannot be read.
    size_t read(double* out, size_t frames) override;

private:
    int fd_;
    SampleLayout layout_;
    double sampleRate_;
    uint32_t channels_;
    bool ended_ = false;
    std::vector<std::byte> bytes_;
};

}  // namespace host
