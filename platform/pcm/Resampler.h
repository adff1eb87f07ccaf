#pragma once
// A stream resampler (libsoxr) between one input rate and the output rate,
// on interleaved doubles. Output arrives through a callback in pieces of at
// most maxOutputFrames(); the space for them is allocated once, on creation.

#include <cstddef>
#include <cstdint>
#include <string>

struct soxr;

namespace pcm {

class Resampler {
public:
    // Receives `frames` interleaved frames; returns false to stop (write failed).
    using Output = bool (*)(void* context, const double* frames, size_t count);

    Resampler() = default;
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Sets up conversion from `inputRate` to `outputRate` for `channels`
    // channels, with pieces of up to `maxOutputFrames` frames. Any previous
    // set-up is dropped unflushed. Returns false, with `*problem` (when
    // given) set, if the resampler can't be made.
    bool configure(double inputRate, double outputRate, uint32_t channels, size_t maxOutputFrames,
                   std::string* problem = nullptr);
    bool active() const { return soxr_ != nullptr; }
    double inputRate() const { return inputRate_; }

    // Feeds `count` interleaved frames and passes on what is ready.
    bool process(const double* frames, size_t count, Output output, void* context);
    // Ends the input, passes on everything left, and releases the resampler.
    bool flush(Output output, void* context);
    void reset();

private:
    soxr* soxr_ = nullptr;
    double inputRate_ = 0;
    uint32_t channels_ = 0;
    size_t outFrames_ = 0;
    double* out_ = nullptr;  // outFrames_ * channels_ doubles
};

}  // namespace pcm
