#pragma once
// Shared by the notify tests: child processes with their output read line by
// line, and the check for a session bus.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify/NotifyObserver.h"
#include "signals/BroadcastSignals.h"

namespace notifytest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A child process (argv[0] a path; this environment) whose standard output
// and error are read line by line. Killed, if still running, on destruction.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        out_.fd = out[0];
        err_.fd = err[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int r = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        if (r != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(r));
    }
    ~Child() {
        wait(0ms);
        close(out_.fd);
        close(err_.fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // One line within `timeout`; none at the end of output or on timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) { return lineFrom(out_, timeout); }
    std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout) { return lineFrom(err_, timeout); }
    pid_t pid() const { return pid_; }

    // The exit status, or -signal; the child is killed after `timeout`.
    int wait(std::chrono::milliseconds timeout) {
        if (status_) return *status_;
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) != pid_) {
            if (Clock::now() >= deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return *status_;
    }

private:
    struct Stream {
        int fd = -1;
        std::string buffered;
    };
    static std::optional<std::string> lineFrom(Stream& stream, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (const auto newline = stream.buffered.find('\n'); newline != std::string::npos) {
                std::string line = stream.buffered.substr(0, newline);
                stream.buffered.erase(0, newline + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{stream.fd, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(std::max<long long>(left, 0)));
            if (ready < 0 && errno == EINTR) continue;
            char chunk[4096];
            const ssize_t n = ready > 0 ? read(stream.fd, chunk, sizeof chunk) : 0;
            if (n <= 0) return std::nullopt;
            stream.buffered.append(chunk, static_cast<size_t>(n));
        }
    }
    pid_t pid_ = -1;
    Stream out_, err_;
    std::optional<int> status_;
};

// True when a session bus answers at $DBUS_SESSION_BUS_ADDRESS.
inline bool sessionBusAvailable() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) return false;
    try {
        platform::NotifyObserver probe({"com.sorvane.probe"}, 3s);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace notifytest
