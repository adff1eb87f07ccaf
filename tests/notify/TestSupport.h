#pragma once
// Shared by the notify tests: a private temporary directory, child processes,
// a private bus daemon that can be stopped, and the session bus check.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace notifytest {

// A directory made with mkdtemp under $TMPDIR (or /tmp), removed with its
// contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A child process with its standard output (and optionally error) captured.
class Child {
public:
    // Starts `argv` with the current environment plus `extraEnv` ("NAME=value").
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads one line of standard output, waiting up to `timeout`; none at end
    // of output or timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // The same for standard error.
    std::optional<std::string> readErrorLine(std::chrono::milliseconds timeout);
    // Waits for exit (killing the child after `timeout`) and returns the
    // exit status, or -signal when it was killed.
    int wait(std::chrono::milliseconds timeout);
    // What is left unread on standard error (call after wait()).
    std::string standardError();
    pid_t pid() const { return pid_; }

private:
    static std::optional<std::string> readLineFrom(int fd, std::string& buffer, std::chrono::milliseconds timeout);
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string buffered_;
    std::string bufferedError_;
    bool reaped_ = false;
    int status_ = 0;
};

// Runs a process to completion and returns its exit status.
int run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
        std::string* output = nullptr);

// A dbus-daemon of our own listening in a temporary directory; it can be
// stopped (SIGSTOP) to stand for a frozen bus. Killed on destruction.
class PrivateBusDaemon {
public:
    // Listens on `socketPath`, or on a socket in a directory of its own.
    explicit PrivateBusDaemon(const std::string& socketPath = {});
    ~PrivateBusDaemon();
    PrivateBusDaemon(const PrivateBusDaemon&) = delete;
    PrivateBusDaemon& operator=(const PrivateBusDaemon&) = delete;

    bool started() const { return !address_.empty(); }
    const std::string& address() const { return address_; }
    void freeze();
    void thaw();

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::string address_;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);  // null value unsets
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
