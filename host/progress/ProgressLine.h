#pragma once
// One self-rewriting status line on a terminal: broadcast time, buffers
// delivered by type and app audio delivered. Log lines written through
// printAbove() appear above it without mixing with it.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "host/summary/BroadcastReport.h"

namespace host {

struct ProgressState {
    int broadcast = 0;
    double broadcastSeconds = 0;
    BufferCounts buffers;
    double appAudioSeconds = 0;
    std::optional<double> appLevelDbfs;  // peak of a recent app-audio buffer
};

std::string formatProgress(const ProgressState& state);

class ProgressLine {
public:
    explicit ProgressLine(std::FILE* out) : out_(out) {}

    // Redraws at most ten times a second unless `force`.
    void update(const ProgressState& state, bool force = false);
    // Whether update() would redraw now (so costly fields are worked out only then).
    bool due() const { return std::chrono::steady_clock::now() - lastDraw_ >= kRedrawInterval; }
    // Writes `line` (without newline) above the status line.
    void printAbove(std::string_view line);
    // Erases the status line for good.
    void finish();

private:
    void eraseLocked();

    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    std::FILE* out_;
    std::mutex mutex_;
    std::string shown_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace host
