#pragma once
// A live source: what a PulseAudio (or PipeWire-pulse) server records, as it
// arrives. The stream is asked for in the delivered stream's own format,
// rate and channels, and the server converts; formats the server does not
// have (s8, f64) are recorded as 32-bit float and encoded by the host.
//
// libpulse runs its own thread (a threaded main loop) that only copies what
// arrives into a fixed ring and wakes the host's thread; the host's thread
// takes whole buffers from the ring, so every call on the extension stays on
// it. Waiting for audio also wakes on a stop request (SIGINT, SIGTERM).

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "AudioSource.h"
#include "FrameRing.h"
#include "SourceDescription.h"
#include "platform/pcm/SampleCodecs.h"
#include "toolkit/StopSignals.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_sample_spec;

namespace host {

class PulseSource final : public AudioSource {
public:
    // Connects to the server ($PULSE_SERVER, else libpulse's default) and
    // starts recording `sourceName`; empty means the default sink's monitor
    // for app audio and the default source for the microphone. Throws
    // HostError (BadSource) naming the server and the source when there is
    // no server, the connection is refused, or the source is unknown.
    PulseSource(const std::string& sourceName, SourceRole role, const AudioEncoding& encoding,
                toolkit::StopToken stop = {});
    ~PulseSource() override;
    PulseSource(const PulseSource&) = delete;
    PulseSource& operator=(const PulseSource&) = delete;

    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;
    bool finite() const override { return false; }
    bool live() const override { return true; }
    bool deliversEncoded(const AudioEncoding& encoding) const override;
    size_t readEncoded(std::span<std::byte> out, size_t frames) override;
    std::string_view failure() const override;
    SourceOverruns takeOverruns() override;

    const std::string& sourceName() const { return sourceName_; }

private:
    void connect(const pa_sample_spec& spec);
    void findDefaultSource();
    void close();
    // Waits until `done()` (called with the main loop locked), for at most the
    // set-up timeout; throws BadSource starting with `message()` on a failure
    // or time-out.
    template <typename Done, typename Message>
    void waitForSetUp(Done done, Message message);
    // Takes up to `frames` frames into `out`, waiting for them to arrive;
    // fewer only after a stop request or a failure.
    size_t takeFrames(std::byte* out, size_t frames);
    void waitForAudio();
    void wake();
    void fail(const std::string& why);
    std::string describeSource() const;

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onReadable(pa_stream* stream, size_t bytes, void* self);

    pcm::SampleEncoding captureLayout_;  // what the server is asked for
    pcm::RealDecoder decode_ = nullptr;  // captured samples to doubles
    AudioEncoding encoding_;
    std::string server_;
    std::string sourceName_;
    bool defaultSource_ = false;
    SourceRole role_;
    toolkit::StopToken stop_;
    int wakeFd_ = -1;  // eventfd: audio arrived or the stream changed state
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::unique_ptr<FrameRing> ring_;
    std::vector<std::byte> scratch_;  // captured bytes on their way to doubles

    std::atomic<bool> failed_{false};
    std::string failure_;               // why; written once, before failed_
    std::string report_;                // the same, naming the server and the source
    bool overflowing_ = false;          // the server's thread only
    std::atomic<uint64_t> overruns_{0};
    std::atomic<uint64_t> framesLost_{0};
    SourceOverruns reported_;
};

}  // namespace host
