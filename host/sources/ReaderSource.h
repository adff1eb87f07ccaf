#pragma once
// An AudioSource over a native-rate reader (file or standard input): frames
// are resampled when the stream's rate differs from the reader's, then
// fitted to the stream's channel count, both by the platform's PCM toolkit.

#include <memory>
#include <vector>

#include "AudioSource.h"
#include "platform/pcm/Resampler.h"

namespace host {

class ReaderSource final : public AudioSource {
public:
    explicit ReaderSource(std::unique_ptr<PcmReader> reader);

    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;

private:
    // Up to `frames` frames at the reader's channel count and `sampleRate`.
    size_t readNative(double* out, size_t frames, double sampleRate);
    size_t readResampled(double* out, size_t frames, double sampleRate);
    // Moves up to `frames` resampled frames from pending_ to `out`.
    size_t takePending(double* out, size_t frames);
    static bool keep(void* self, const double* frames, size_t count);

    std::unique_ptr<PcmReader> reader_;
    pcm::Resampler resampler_;
    double resampledRate_ = 0;     // the rate resampler_ makes
    bool readerEnded_ = false;     // the resampler has had all the reader's frames
    std::vector<double> input_;    // reader frames on their way to the resampler
    std::vector<double> pending_;  // resampled frames not yet read, from pendingAt_
    size_t pendingAt_ = 0;
    std::vector<double> native_;  // frames at the reader's channel count, to remix
};

}  // namespace host
