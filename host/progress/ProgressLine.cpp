#include "ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace host {

std::string formatProgress(const ProgressState& state) {
    char text[200];
    std::snprintf(text, sizeof text, "broadcast %d  %7.1f s  buffers app %llu  mic %llu  video %llu  other %llu  app audio %.1f s",
                  state.broadcast, state.broadcastSeconds, static_cast<unsigned long long>(state.buffers.app),
                  static_cast<unsigned long long>(state.buffers.mic),
                  static_cast<unsigned long long>(state.buffers.video),
                  static_cast<unsigned long long>(state.buffers.other), state.appAudioSeconds);
    std::string line = text;
    if (state.appLevelDbfs) {
        if (std::isinf(*state.appLevelDbfs))
            line += "  level -inf dBFS";
        else {
            std::snprintf(text, sizeof text, "  level %5.1f dBFS", *state.appLevelDbfs);
            line += text;
        }
    }
    return line;
}

void ProgressLine::eraseLocked() {
    if (shown_.empty()) return;
    std::fputs("\r\033[K", out_);
    shown_.clear();
}

void ProgressLine::update(const ProgressState& state, bool force) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (!force && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    shown_ = formatProgress(state);
    std::fprintf(out_, "\r\033[K%s", shown_.c_str());
    std::fflush(out_);
}

void ProgressLine::printAbove(std::string_view line) {
    std::lock_guard lock(mutex_);
    const std::string kept = shown_;
    eraseLocked();
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    if (!kept.empty()) {
        shown_ = kept;
        std::fputs(shown_.c_str(), out_);
    }
    std::fflush(out_);
}

void ProgressLine::finish() {
    std::lock_guard lock(mutex_);
    eraseLocked();
    std::fflush(out_);
}

}  // namespace host
