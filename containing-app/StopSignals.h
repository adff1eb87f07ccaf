#pragma once
// SIGINT and SIGTERM as a readable descriptor, so the event loop ends
// cleanly (exit status 0) instead of being killed mid-line.

namespace containing_app {

class StopSignals {
public:
    // Blocks SIGINT and SIGTERM for this thread and opens a signalfd for them.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace containing_app
