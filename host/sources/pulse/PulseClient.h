#pragma once
// One connection to the sound server (PulseAudio, or PipeWire's PulseAudio
// server), driven by the host's own thread: libpulse's plain main loop runs
// only inside iterate(), whose wait also wakes on a stop request, so every
// callback runs on the host's thread and nothing is shared with another.
// Every wait for an answer of the server is bounded.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <pulse/def.h>
#include <pulse/sample.h>

#include "toolkit/StopSignals.h"

struct pa_mainloop;
struct pa_context;
struct pa_operation;

namespace host {

// What the server says of itself, of a source, and of a playback stream (a
// sink input: what one app plays).
struct ServerFacts {
    std::string name;     // where it was reached (its socket)
    std::string product;  // "PulseAudio 16.1", "PulseAudio (on PipeWire 0.3.65) 15.0.0"
    std::string defaultSink, defaultSource;
};
struct SourceFacts {
    uint32_t index = 0;
    std::string name, description;
    pa_sample_spec spec{};
    std::string monitorOf;  // the sink it monitors, empty for a capture device
};
struct SinkFacts {
    uint32_t index = 0;
    std::string name;
    uint32_t monitorSource = PA_INVALID_INDEX;
};
struct PlaybackFacts {
    uint32_t index = 0;
    uint32_t sink = 0;
    uint32_t monitorSource = PA_INVALID_INDEX;  // of its sink
    std::string sinkName;
    std::string appName, binary;
    std::optional<uint64_t> pid;
    pa_sample_spec spec{};
};

class PulseClient {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kAnswerBound{10};

    // Connects to $PULSE_SERVER, else libpulse's default. Throws HostError:
    // BadSource naming the server and `purpose` (what the connection is
    // for, as "to record source X") when there is no server, it refuses or
    // it does not answer; 128 + the signal when a stop comes first.
    PulseClient(toolkit::StopToken stop, std::string purpose);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    pa_context* context() const { return context_; }
    const std::string& server() const { return server_; }
    // Why the connection ended; empty while it works.
    const std::string& failure() const { return failure_; }
    // The server's last error, in words.
    std::string lastError() const;

    // Waits for the server until `deadline` (or a stop request, unless
    // stops are ignored) and runs the callbacks for what it sent. Returns
    // how many events it handled.
    int iterate(Clock::time_point deadline);
    // Runs the callbacks for what the server has already sent, without
    // waiting for more.
    void takeInPending();
    // After a stop request the host still reads what the server captured:
    // the waits then no longer return at once for the request.
    void ignoreStop() { watchStop_ = false; }

    // Runs the loop until `done()` holds, within kAnswerBound. Throws
    // BadSource starting with `what` on a failure or time-out, 128 + signal
    // on a stop.
    void waitUntil(const std::function<bool()>& done, const std::string& what);

    ServerFacts serverFacts();
    std::vector<SourceFacts> sources();
    std::vector<SinkFacts> sinks();
    std::vector<PlaybackFacts> playbacks();
    // One playback stream; none when it is gone.
    std::optional<PlaybackFacts> playback(uint32_t index);

    // Calls `changed` with a playback stream's index whenever one appears,
    // changes (moves to another sink, say) or goes. Runs within iterate().
    void watchPlaybacks(std::function<void(uint32_t index)> changed);

private:
    void close();
    static int pollWithStop(pollfd* fds, unsigned long count, int timeoutMs, void* self);
    // Waits for `operation` (unreferenced here) to call back `answered`.
    void await(pa_operation* operation, const bool& answered, const std::string& what);
    std::vector<PlaybackFacts> queryPlaybacks(std::optional<uint32_t> only);

    toolkit::StopToken stop_;
    std::string purpose_;
    std::string server_;
    std::string failure_;
    bool watchStop_ = true;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::function<void(uint32_t)> playbacksChanged_;
    std::array<pollfd, 64> pollFds_{};  // the loop's descriptors and the stop's, without allocating
};

}  // namespace host
