#include "ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace host {
namespace {

size_t terminalColumns(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

std::string formatProgress(const ProgressState& s, size_t columns) {
    const auto app = static_cast<unsigned long long>(s.buffers.app);
    const auto mic = static_cast<unsigned long long>(s.buffers.mic);
    const auto video = static_cast<unsigned long long>(s.buffers.video);
    const auto other = static_cast<unsigned long long>(s.buffers.other);
    char level[32] = "";
    if (s.appLevelDbfs && std::isinf(*s.appLevelDbfs))
        std::snprintf(level, sizeof level, "  level -inf dBFS");
    else if (s.appLevelDbfs)
        std::snprintf(level, sizeof level, "  level %.1f dBFS", *s.appLevelDbfs);
    // From the fullest form to the barest; the first that fits is drawn.
    char text[5][192];
    std::snprintf(text[0], sizeof text[0],
                  "broadcast %d  %.1f s  buffers app %llu  mic %llu  video %llu  other %llu  app audio %.1f s%s",
                  s.broadcast, s.broadcastSeconds, app, mic, video, other, s.appAudioSeconds, level);
    std::snprintf(text[1], sizeof text[1], "broadcast %d  %.1f s  app %llu  mic %llu  video %llu  audio %.1f s%s",
                  s.broadcast, s.broadcastSeconds, app, mic, video, s.appAudioSeconds, level);
    std::snprintf(text[2], sizeof text[2], "broadcast %d  %.1f s  app audio %.1f s%s", s.broadcast, s.broadcastSeconds,
                  s.appAudioSeconds, level);
    std::snprintf(text[3], sizeof text[3], "broadcast %d  %.1f s  app audio %.1f s", s.broadcast, s.broadcastSeconds,
                  s.appAudioSeconds);
    std::snprintf(text[4], sizeof text[4], "#%d %.1fs", s.broadcast, s.broadcastSeconds);
    const size_t room = columns > 1 ? columns - 1 : 0;
    for (const char* form : text)
        if (std::char_traits<char>::length(form) <= room) return form;
    return std::string(text[4]).substr(0, room);
}

ProgressLine::ProgressLine(std::FILE* out) : out_(out) {}

ProgressLine::~ProgressLine() { finish(); }

void ProgressLine::drawLocked() {
    std::fprintf(out_, "\r\033[K%s", formatProgress(state_, terminalColumns(out_)).c_str());
    shown_ = true;
}

void ProgressLine::eraseLocked() {
    if (!shown_) return;
    std::fputs("\r\033[K", out_);
    shown_ = false;
}

void ProgressLine::update(const ProgressState& state, bool force) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    state_ = state;
    if (finished_ || (!force && now - lastDraw_ < kRedrawInterval)) return;
    lastDraw_ = now;
    drawLocked();
    std::fflush(out_);
}

void ProgressLine::printAbove(std::string_view line) {
    std::lock_guard lock(mutex_);
    const bool wasShown = shown_;
    eraseLocked();
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    if (wasShown && !finished_) drawLocked();
    std::fflush(out_);
}

void ProgressLine::finish() {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    if (!shown_) return;
    drawLocked();
    std::fputc('\n', out_);
    shown_ = false;
    std::fflush(out_);
}

}  // namespace host
