#pragma once
// One record stream of the sound server, captured into a fixed ring of
// frames in the format it was asked for, in small fragments. A hole the
// server reports in the stream is kept as silence, so the timeline holds,
// and counted as lost, as are frames that do not fit the ring and overflows
// of the server's own buffer. Its callbacks run inside PulseClient::iterate().

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <pulse/channelmap.h>
#include <pulse/def.h>
#include <pulse/sample.h>

#include "FrameRing.h"
#include "PulseClient.h"
#include "host/sources/AudioSource.h"

struct pa_stream;

namespace host {

class CaptureStream {
public:
    using Clock = PulseClient::Clock;

    struct Request {
        std::string device;                     // a source, by name or index
        uint32_t monitorOf = PA_INVALID_INDEX;  // only this playback stream of the sink `device` monitors
        pa_sample_spec spec{};
        pa_channel_map map{};
        size_t fragmentFrames = 0;  // what the server sends at a time
        size_t ringFrames = 0;      // what the host may fall behind by
        const char* name = "app audio";
        // Receives nothing: it only keeps the sink rendering in fragments
        // of this size, so a playback that starts is recorded from its start.
        bool keepsPace = false;
    };

    // Starts connecting (PulseClient::iterate completes it). Throws
    // BadSource when the server refuses the stream at once.
    CaptureStream(PulseClient& client, const Request& request);
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    bool ready() const { return ready_; }
    // The server ended the stream: endReason() says why; killed() when what
    // it recorded went away or moved.
    bool ended() const { return !endReason_.empty(); }
    bool killed() const { return killed_; }
    const std::string& endReason() const { return endReason_; }
    // The server moved the stream to another source since the last call.
    bool takeMoved() { return std::exchange(moved_, false); }

    const FrameRing& ring() const { return ring_; }
    size_t frames() const { return ring_.frames(); }
    size_t take(std::byte* out, size_t frames) { return ring_.take(out, frames); }
    // Every frame that arrived, holes included.
    uint64_t arrivedFrames() const { return arrived_; }
    std::optional<Clock::time_point> lastArrival() const { return lastArrival_; }
    // What was lost since the last call.
    SourceOverruns takeLosses() { return std::exchange(losses_, {}); }

    // Asks the server to send what it holds and how far the capture is
    // ahead of what arrived; the answer comes within PulseClient::iterate().
    void requestBacklog();
    // Frames captured by the answer that the host has not taken: those in
    // the ring and those yet to arrive.
    std::optional<uint64_t> backlogFrames() const { return backlogFrames_; }

private:
    void lose(size_t frames);
    static void onReadable(pa_stream* stream, size_t bytes, void* self);
    static void onState(pa_stream* stream, void* self);

    PulseClient& client_;
    pa_stream* stream_ = nullptr;
    double rate_ = 0;
    FrameRing ring_;
    bool ready_ = false;
    bool killed_ = false;
    bool moved_ = false;
    bool losing_ = false;  // the last fragment lost audio: one event per run of losses
    std::string endReason_;
    uint64_t arrived_ = 0;
    std::optional<Clock::time_point> lastArrival_;
    SourceOverruns losses_;
    std::optional<uint64_t> backlogFrames_;
};

}  // namespace host
