#pragma once
// An AudioSource over a native-rate reader (file or standard input): frames
// are resampled with libsoxr when the stream's rate differs from the
// reader's, then fitted to the stream's channel count.

#include <exception>
#include <memory>
#include <vector>

#include "AudioSource.h"

struct soxr;

namespace host {

class ReaderSource final : public AudioSource {
public:
    explicit ReaderSource(std::unique_ptr<PcmReader> reader);
    ~ReaderSource() override;
    ReaderSource(const ReaderSource&) = delete;
    ReaderSource& operator=(const ReaderSource&) = delete;

    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;
    bool finite() const override { return true; }
    bool deliversCodes16(double sampleRate, uint32_t channels) const override;
    size_t readCodes16(std::span<int16_t> out, size_t frames, double sampleRate, uint32_t channels) override;

    const PcmReader& reader() const { return *reader_; }

private:
    size_t readNative(double* out, size_t frames, double sampleRate);
    static size_t supplyInput(void* state, const void** data, size_t requested);

    std::unique_ptr<PcmReader> reader_;
    soxr* resampler_ = nullptr;
    double resamplerRate_ = 0;
    std::vector<double> native_;  // output at the reader's channel count
    std::vector<double> input_;   // reader frames handed to the resampler
    std::exception_ptr inputFailure_;
};

}  // namespace host
