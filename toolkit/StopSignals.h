#pragma once
// SIGINT and SIGTERM as a request to stop, as both programs take them: the
// first asks the run to finish cleanly (the host finishes the broadcast and
// hands the recording over; the containing app prints what it has and
// exits), a second while finishing ends the process at once with 128 + the
// signal's number.
//
// The signals are blocked and read from a signalfd by a thread of their own,
// so no handler and no process-wide state is involved, and a blocked read
// or wait anywhere wakes on a stop only by polling the token's descriptor
// beside what it waits for (StopToken::waitFor).

#include <chrono>
#include <memory>
#include <thread>

namespace toolkit {

class StopToken;

class StopSignals {
public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every
    // thread it starts later: make it before any other thread exists. Throws
    // std::system_error when the descriptors cannot be made.
    StopSignals();
    // Stops watching and puts the signal mask back.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    StopToken token() const;

    struct State;

private:
    std::unique_ptr<State> state_;
    std::thread watcher_;
};

// A view of a StopSignals, handed to whatever waits; valid while it lives.
// A default token never stops.
class StopToken {
public:
    StopToken() = default;

    bool requested() const;
    // The signal that asked to stop (SIGINT, SIGTERM), or 0.
    int signal() const;
    // When the stop was requested (the epoch of the steady clock before).
    std::chrono::steady_clock::time_point requestedAt() const;
    // Readable once a stop was requested; -1 for a token that never stops.
    int fd() const;

    // Sleeps until `deadline`; false at once when a stop is requested before
    // then (or already was).
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) const;
    // Waits until `fd` polls ready for `events`, `timeoutMs` passes (-1: no
    // limit) or a stop is requested. Returns the descriptor's poll events,
    // 0 on a timeout or a stop; retries on EINTR.
    short waitFor(int fd, short events, int timeoutMs = -1) const;

private:
    friend class StopSignals;
    explicit StopToken(const StopSignals::State* state) : state_(state) {}
    const StopSignals::State* state_ = nullptr;
};

}  // namespace toolkit
