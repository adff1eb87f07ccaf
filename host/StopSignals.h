#pragma once
// SIGINT and SIGTERM end a broadcast the way the broadcast service ends one:
// the handler only counts the signal and writes a byte to a pipe; the
// delivery loop sees the request, stops delivering and finishes on the
// host's own thread. A second signal while finishing ends the process at
// once with 128 + the signal (130 for SIGINT).

#include <chrono>

namespace host {

class StopSignals {
public:
    // Installs the handlers; the previous ones come back on destruction.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
};

// True once SIGINT or SIGTERM arrived while a StopSignals was installed.
bool stopRequested();

// A descriptor that polls readable once a stop was requested; -1 when no
// StopSignals is installed.
int stopDescriptor();

// Sleeps until `deadline`; returns false at once when a stop is requested
// before then (or already was).
bool sleepUnlessStopped(std::chrono::steady_clock::time_point deadline);

}  // namespace host
