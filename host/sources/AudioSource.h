#pragma once
// Where a delivered audio stream's sound comes from. A source produces
// frames at whatever rate and channel count the stream asks for, continuing
// where the previous read stopped, so one source can feed a stream whose
// encoding changes mid-broadcast.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace host {

class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Writes the next `frames` frames (interleaved, `channels` values a
    // frame, full scale +-1.0) at `sampleRate` into `out`, which holds at
    // least frames * channels values. Returns the frames written: fewer than
    // asked only when a finite source has run out. Throws SourceError when
    // the underlying input fails.
    virtual size_t read(std::span<double> out, size_t frames, uint32_t sampleRate,
                        uint32_t channels) = 0;

    // True when the source ends (a file or standard input), false for
    // generators that go on for ever.
    virtual bool finite() const = 0;
};

// A native-rate input that AudioSource adapters resample and remix.
class PcmReader {
public:
    virtual ~PcmReader() = default;
    virtual uint32_t sampleRate() const = 0;
    virtual uint32_t channels() const = 0;
    // Reads up to `frames` interleaved frames at the native rate; 0 at the end.
    virtual size_t read(double* out, size_t frames) = 0;
};

}  // namespace host
