#include "StopSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace host {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

std::atomic<int> gSignalsSeen{0};
int gPipe[2] = {-1, -1};
struct sigaction gPrevious[2];

extern "C" void onStopSignal(int signal) {
    if (gSignalsSeen.fetch_add(1) > 0) {
        // Aborting: end a progress line the terminal may show, so the shell's
        // prompt starts on a line of its own (tcgetattr and write are safe here).
        termios terminal{};
        if (::tcgetattr(STDERR_FILENO, &terminal) == 0) (void)!::write(STDERR_FILENO, "\n", 1);
        ::_exit(128 + signal);
    }
    const int saved = errno;
    const char byte = 1;
    (void)!::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot create the stop pipe");
    gSignalsSeen = 0;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < 2; ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < 2; ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

bool stopRequested() { return gSignalsSeen.load(std::memory_order_relaxed) > 0; }

int stopDescriptor() { return gPipe[0]; }

bool sleepUnlessStopped(std::chrono::steady_clock::time_point deadline) {
    while (!stopRequested()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return true;
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(nanos / 1'000'000'000), static_cast<long>(nanos % 1'000'000'000)};
        pollfd wake{stopDescriptor(), POLLIN, 0};
        ::ppoll(&wake, wake.fd >= 0 ? 1 : 0, &timeout, nullptr);
    }
    return false;
}

}  // namespace host
