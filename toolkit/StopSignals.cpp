#include "StopSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <utility>

namespace toolkit {

struct StopSignals::State {
    sigset_t signals{};
    sigset_t previousMask{};
    int signalFd = -1;
    int stopFd = -1;  // eventfd, readable once a stop was requested
    int quitFd = -1;  // eventfd that ends the watcher
    std::atomic<int> signal{0};
    std::atomic<std::chrono::steady_clock::rep> requestedAt{0};
};

namespace {

void closeAll(StopSignals::State& s) {
    for (int* fd : {&s.signalFd, &s.stopFd, &s.quitFd})
        if (*fd >= 0) ::close(std::exchange(*fd, -1));
}

// Reads the signals as they come: the first is the stop request, a second
// ends the process at once. Before that it ends a progress line the
// terminal may show, so the shell's prompt starts on a line of its own.
void watch(StopSignals::State& s) {
    for (;;) {
        pollfd fds[2] = {{s.signalFd, POLLIN, 0}, {s.quitFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info{};
        if (::read(s.signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
        const int number = static_cast<int>(info.ssi_signo);
        int none = 0;
        if (s.signal.load() == 0) s.requestedAt = std::chrono::steady_clock::now().time_since_epoch().count();
        if (s.signal.compare_exchange_strong(none, number)) {
            const uint64_t one = 1;
            (void)!::write(s.stopFd, &one, sizeof one);
            continue;
        }
        if (::isatty(STDERR_FILENO) == 1) (void)!::write(STDERR_FILENO, "\n", 1);
        ::_exit(128 + number);
    }
}

}  // namespace

StopSignals::StopSignals() : state_(std::make_unique<State>()) {
    State& s = *state_;
    sigemptyset(&s.signals);
    sigaddset(&s.signals, SIGINT);
    sigaddset(&s.signals, SIGTERM);
    s.stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    s.quitFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int error = ::pthread_sigmask(SIG_BLOCK, &s.signals, &s.previousMask);
    if (error == 0) s.signalFd = ::signalfd(-1, &s.signals, SFD_CLOEXEC);
    if (s.stopFd < 0 || s.quitFd < 0 || s.signalFd < 0) {
        const int reason = error != 0 ? error : errno;
        if (error == 0) ::pthread_sigmask(SIG_SETMASK, &s.previousMask, nullptr);
        closeAll(s);
        throw std::system_error(reason, std::generic_category(), "cannot watch SIGINT and SIGTERM");
    }
    watcher_ = std::thread(watch, std::ref(s));
}

StopSignals::~StopSignals() {
    State& s = *state_;
    const uint64_t one = 1;
    (void)!::write(s.quitFd, &one, sizeof one);
    watcher_.join();
    ::pthread_sigmask(SIG_SETMASK, &s.previousMask, nullptr);
    closeAll(s);
}

StopToken StopSignals::token() const { return StopToken(state_.get()); }

bool StopToken::requested() const { return signal() != 0; }

int StopToken::signal() const { return state_ == nullptr ? 0 : state_->signal.load(std::memory_order_acquire); }

std::chrono::steady_clock::time_point StopToken::requestedAt() const {
    using Clock = std::chrono::steady_clock;
    return Clock::time_point(Clock::duration(state_ == nullptr ? 0 : state_->requestedAt.load()));
}

int StopToken::fd() const { return state_ == nullptr ? -1 : state_->stopFd; }

bool StopToken::sleepUntil(std::chrono::steady_clock::time_point deadline) const {
    while (!requested()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return true;
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(nanos / 1'000'000'000), static_cast<long>(nanos % 1'000'000'000)};
        pollfd wake{fd(), POLLIN, 0};
        ::ppoll(&wake, wake.fd >= 0 ? 1 : 0, &timeout, nullptr);
    }
    return false;
}

short StopToken::waitFor(int descriptor, short events, int timeoutMs) const {
    for (;;) {
        if (requested()) return 0;
        pollfd fds[2] = {{descriptor, events, 0}, {fd(), POLLIN, 0}};
        const int ready = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        return fds[0].revents;
    }
}

}  // namespace toolkit
