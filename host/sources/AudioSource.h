#pragma once
// Where a delivered audio stream's sound comes from. A source produces
// frames at whatever rate and channel count the stream asks for, continuing
// where the previous read stopped, so one source can feed a stream whose
// encoding changes mid-broadcast.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "AudioEncoding.h"

namespace host {

// Audio a live source could not pass on: the server's holes in the stream
// and data that arrived while the host was not keeping up.
struct SourceOverruns {
    uint64_t events = 0;
    uint64_t framesLost = 0;
};

class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Writes the next `frames` frames (interleaved, `channels` values a
    // frame, full scale +-1.0) at `sampleRate` into `out`, which holds at
    // least frames * channels values. Returns the frames written: fewer than
    // asked only when a finite source has run out. Throws SourceError when
    // the underlying input fails.
    virtual size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) = 0;

    // Live sources (a sound server) deliver at the pace the audio arrives,
    // may fail mid-broadcast and may lose audio; the others do none of this.
    virtual bool live() const { return false; }
    // True when the source already holds its audio as bytes of `encoding`
    // (interleaved), so readEncoded can copy them straight into a buffer.
    virtual bool deliversEncoded(const AudioEncoding& /*encoding*/) const { return false; }
    // Like read, as bytes of the encoding deliversEncoded accepted.
    virtual size_t readEncoded(std::span<std::byte> out, size_t frames);
    // Why a live source stopped early (empty while it works). A short read
    // from a failed source ends the broadcast.
    virtual std::string_view failure() const { return {}; }
    // Overruns since the last call.
    virtual SourceOverruns takeOverruns() { return {}; }
    // A live source that follows apps (--follow) waits until one of them
    // plays sound; false when a stop came first or the source failed.
    // Others have sound at once.
    virtual bool waitForSound() { return true; }
};

// A native-rate input that AudioSource adapters resample and remix.
class PcmReader {
public:
    virtual ~PcmReader() = default;
    virtual double sampleRate() const = 0;  // frames a second, possibly fractional
    virtual uint32_t channels() const = 0;
    // Reads up to `frames` interleaved frames at the native rate; 0 at the end.
    virtual size_t read(double* out, size_t frames) = 0;
};

}  // namespace host
