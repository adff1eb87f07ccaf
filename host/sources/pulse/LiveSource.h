#pragma once
// Live audio from the sound server, as the broadcast service delivers what
// apps play: one of its sources (pulse[:SOURCE]), or the playback of chosen
// applications mixed into one stream (apps:NAMES, apps-except:NAMES), each
// app's streams recorded alone from its sink's monitor and followed as they
// come, go and move.
//
// The server is asked for fragments in the delivered stream's own format
// where it has one (else 32-bit float, converted by the host; always float
// for a mix), channels in WAVE order; the host cuts what arrives into
// buffers. A mix asks for small fragments (20 ms), so its streams line up
// closely; one source asks for a quarter of a second, as each message costs
// the host a round of system calls. Between batches the host sleeps and then
// takes in everything that came at once, so it wakes a few times a second
// rather than once per fragment. Everything runs on the host's thread, in
// one loop.
//
// Time follows the audio while it arrives and the wall clock when it does
// not, so a broadcast always ends at its length:
//   - a source that stops delivering (a suspended sink, a stalled server, a
//     moved stream) is replaced by silence after half a second (three
//     seconds before its first audio), as much as the wall clock says is
//     missing, counted as lost, with a warning;
//   - chosen apps that play nothing give silence at the wall clock's pace;
//   - a stop request ends the stream where the server had captured up to the
//     request: what it still held is read first, for at most its reported
//     latency plus 100 ms.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CaptureStream.h"
#include "PulseClient.h"
#include "host/sources/AudioSource.h"
#include "host/sources/SourceDescription.h"
#include "platform/pcm/SampleCodecs.h"

namespace host {

class LiveSource final : public AudioSource {
public:
    // Connects and starts recording `described` (Pulse or Apps) for a stream
    // delivered in `encoding`. Throws HostError: BadSource naming the server
    // and the source when there is no server, it refuses, or the source is
    // unknown; Usage for a rate the server cannot record.
    LiveSource(const SourceDescription& described, const AudioEncoding& encoding, const SourceContext& context);
    ~LiveSource() override;

    size_t read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) override;
    bool live() const override { return true; }
    bool deliversEncoded(const AudioEncoding& encoding) const override;
    size_t readEncoded(std::span<std::byte> out, size_t frames) override;
    std::string_view failure() const override { return failure_; }
    SourceOverruns takeOverruns() override { return std::exchange(losses_, {}); }
    bool waitForSound() override;

private:
    using Clock = PulseClient::Clock;

    struct Capture {
        uint32_t playback = PA_INVALID_INDEX;  // the app stream a mix records, or none
        uint32_t monitorSource = PA_INVALID_INDEX;
        std::unique_ptr<CaptureStream> stream;
    };
    // Where the next frames come from, written by one of the two below.
    template <typename Write>
    size_t produce(size_t frames, Write write);

    std::string openDevice(const std::string& name);
    void followApps();
    void examinePlayback(uint32_t index);
    void addCapture(const std::string& device, uint32_t playback, uint32_t monitorSource);
    // Runs the server's loop until `until` and takes in what changed.
    void pump(Clock::time_point until);
    // Sleeps until `until` or a stop, then takes in what the server sent.
    void gather(Clock::time_point until);
    void takeInChanges();
    void takeLosses(Capture& capture);
    void fail(const std::string& why);

    bool isActive(const Capture& capture, Clock::time_point now) const;
    size_t readyFrames(Clock::time_point now) const;
    size_t dueSilence(Clock::time_point now) const;
    Clock::time_point nextCheck(Clock::time_point now) const;
    void beginDrain();
    void noteAudio(size_t frames, Clock::time_point now);
    void noteSilence(size_t frames);
    void mixInto(double* out, size_t frames);
    bool audible(const float* samples, size_t count) const;

    SourceDescription described_;
    AudioEncoding encoding_;
    toolkit::StopToken stop_;
    std::optional<double> idleSeconds_;  // --follow: a stretch this long without sound ends the stream
    std::string label_;                  // the source in messages
    pcm::SampleEncoding captureLayout_;
    pcm::RealDecoder decode_ = nullptr;
    size_t frameBytes_ = 0;
    CaptureStream::Request request_;
    Clock::duration batch_{};       // how long fragments gather before the host takes them in
    Clock::duration stall_{};       // no audio for this long: silence stands in
    Clock::duration firstAudio_{};  // ...and before the first audio (a monitor takes a moment to start)
    std::unique_ptr<PulseClient> client_;
    std::vector<Capture> captures_;
    std::vector<std::unique_ptr<CaptureStream>> pacers_;  // keep each sink rendering in fragments
    std::vector<uint32_t> toExamine_;                     // playback streams the server said changed

    uint64_t produced_ = 0;
    Clock::time_point anchorTime_;  // the wall clock's pace counts from here...
    uint64_t anchorFrames_ = 0;     // ...and this many frames handed out
    bool audioSeen_ = false;
    bool stalled_ = false;
    unsigned stallWarnings_ = 0;
    Clock::time_point lastSound_;
    bool draining_ = false;
    uint64_t drainLeft_ = 0;
    Clock::time_point drainDeadline_;

    std::string failure_;
    SourceOverruns losses_;
    std::vector<std::byte> scratch_;  // captured bytes on their way to doubles
    std::vector<float> mixScratch_;
};

}  // namespace host
