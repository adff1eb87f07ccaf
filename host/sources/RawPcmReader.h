#pragma once
// Reads raw interleaved PCM in a stated layout, rate and channel count from a
// file descriptor (standard input). A trailing partial frame is dropped
// with a warning. Waiting for input ends at a stop request: the frames read
// so far are returned, as at the end of the input.

#include <cstddef>
#include <vector>

#include "AudioSource.h"
#include "platform/pcm/SampleCodecs.h"
#include "toolkit/StopSignals.h"

namespace host {

class RawPcmReader final : public PcmReader {
public:
    RawPcmReader(int fd, const pcm::SampleEncoding& layout, double sampleRate, uint32_t channels,
                 toolkit::StopToken stop = {});

    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    // Throws SourceError when the descriptor cannot be read.
    size_t read(double* out, size_t frames) override;

private:
    int fd_;
    toolkit::StopToken stop_;
    double sampleRate_;
    uint32_t channels_;
    size_t sampleBytes_;
    pcm::RealDecoder decode_;  // chosen once for the stated layout
    bool ended_ = false;
    std::vector<uint8_t> bytes_;
};

}  // namespace host
