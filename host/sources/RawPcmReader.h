#pragma once
// Reads raw interleaved PCM in a stated layout, rate and channel count from a
// file descriptor (standard input). A trailing partial frame is dropped.

#include <cstddef>
#include <vector>

#include "AudioSource.h"
#include "host/encoding/SampleLayout.h"

namespace host {

class RawPcmReader final : public PcmReader {
public:
    RawPcmReader(int fd, SampleLayout layout, uint32_t sampleRate, uint32_t channels);

    uint32_t sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    // Throws SourceError when the descriptor cannot be read.
    size_t read(double* out, size_t frames) override;

private:
    int fd_;
    SampleLayout layout_;
    uint32_t sampleRate_;
    uint32_t channels_;
    bool ended_ = false;
    std::vector<std::byte> bytes_;
};

}  // namespace host
