#pragma once
// One self-rewriting status line on a terminal: broadcast time, buffers
// delivered by type and app audio delivered. It never reaches the last
// column of the terminal, so it never wraps: the width is read at every
// redraw (at most ten times a second), so a resized terminal is followed,
// and narrower terminals get a shorter form. Log lines written through printAbove() appear above it; finish()
// leaves the last state on its own line.

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

// The line for `state` in fewer than `columns` characters.
std::string formatProgress(const ProgressState& state, size_t columns);

class ProgressLine {
public:
    // `out` is a terminal.
    explicit ProgressLine(std::FILE* out);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws at most ten times a second unless `force`.
    void update(const ProgressState& state, bool force = false);
    // Whether update() would redraw now (so costly fields are worked out only then).
    bool due() const { return std::chrono::steady_clock::now() - lastDraw_ >= kRedrawInterval; }
    // Writes `line` (without newline) above the status line.
    void printAbove(std::string_view line);
    // Draws the last state once more and ends its line; later calls do nothing.
    void finish();

private:
    void drawLocked();
    void eraseLocked();

    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    std::FILE* out_;
    std::mutex mutex_;
    ProgressState state_;
    bool shown_ = false;
    bool finished_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace host
