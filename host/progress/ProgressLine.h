#pragma once
// One self-rewriting status line on a terminal: broadcast time, buffers
// delivered by type and app audio delivered. Log lines written through
// printAbove() appear above it without mixing with it.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "host/summary/BroadcastReport.h"

namespace host {

struct ProgressState {
    int broadcast = 0;
    double broadcastSeconds = 0;
    BufferCounts buffers;
    double appAudioSeconds = 0;
};

std::string formatProgress(const ProgressState& state);

class ProgressLine {
public:
    explicit ProgressLine(std::FILE* out) : out_(out) {}

    // Redraws at most ten times a second unless `force`.
    void update(const ProgressState& state, bool force = false);
    // Writes `line` (without newline) above the status line.
    void printAbove(std::string_view line);
    // Erases the status line for good.
    void finish();

private:
    void eraseLocked();

    std::FILE* out_;
    std::mutex mutex_;
    std::string shown_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace host
