#pragma once
// Shared by the notify tests: child processes with their output read line by line, and the check for a session bus.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

// A child process (argv[0] a path; this environment) whose standard output and error are read line by line.
// Killed, if still running, on destruction.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        int pipes[2][2];
        for (int i : {0, 1}) {
            if (pipe2(pipes[i], O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
            posix_spawn_file_actions_adddup2(&actions, pipes[i][1], i + 1);
            fds_[i] = pipes[i][0];
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int r = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        for (auto& p : pipes) close(p[1]);
        if (r != 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    ~Child() {
        wait(0ms);
        for (int fd : fds_) close(fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // One line of standard output (or error) within `timeout`; none at the end of output or on timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) { return lineFrom(0, timeout); }
    std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout) { return lineFrom(1, timeout); }
    pid_t pid() const { return pid_; }

    // The exit status, or -signal; the child is killed after `timeout`.
    int wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (int status = 0; !status_; std::this_thread::sleep_for(5ms)) {
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            else if (Clock::now() >= deadline)
                kill(pid_, SIGKILL);
        }
        return *status_;
    }

private:
    std::optional<std::string> lineFrom(int stream, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        std::string& buffered = buffered_[stream];
        size_t newline;
        while ((newline = buffered.find('\n')) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{fds_[stream], POLLIN, 0};
            char buf[4096];
            const ssize_t n = poll(&p, 1, static_cast<int>(std::max(left, 0L))) > 0 ? read(p.fd, buf, sizeof buf) : 0;
            if (n <= 0) return std::nullopt;
            buffered.append(buf, static_cast<size_t>(n));
        }
        std::string line = buffered.substr(0, newline);
        buffered.erase(0, newline + 1);
        return line;
    }
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    std::string buffered_[2];
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
