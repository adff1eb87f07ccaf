#pragma once
// Shared by the notify tests (and the live-source tests): child processes
// with captured output, environment overrides, the bus check; and posting as
// the extension does.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "signals/BroadcastSignals.h"

namespace notifytest {

using namespace std::chrono_literals;

// A child process (with the current environment) whose standard output and
// error are read line by line. Killed, if still running, on destruction.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // One line, waiting up to `timeout`; none at the end of output or timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) { return lineFrom(out_, timeout); }
    std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout) { return lineFrom(err_, timeout); }
    // The exit status, or -signal; the child is killed after `timeout`.
    int wait(std::chrono::milliseconds timeout);
    pid_t pid() const { return pid_; }

private:
    struct Stream {
        int fd = -1;
        std::string buffered;
    };
    static std::optional<std::string> lineFrom(Stream& stream, std::chrono::milliseconds timeout);
    pid_t pid_ = -1;
    Stream out_, err_;
    std::optional<int> status_;
};

// Runs a program to completion and returns its exit status.
int run(const std::vector<std::string>& argv);

// Sets (or with a null value unsets) an environment variable for the object's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// True when a session bus answers at $DBUS_SESSION_BUS_ADDRESS.
bool sessionBusAvailable();

}  // namespace notifytest
