#pragma once
// Runs the real broadcast-extension program in a child process, with its
// standard error captured, optional resource limits, and an optional kill.

#include <string>
#include <vector>

namespace testing_support {

struct HostRun {
    int exitStatus = -1;      // exit code, or -1 when killed by a signal
    int signal = 0;           // the signal that ended it, if any
    std::string standardOutput;
    std::string standardError;

    // Log lines of the system (after the "process[pid:tid] " prefix).
    std::vector<std::string> logMessages() const;
};

struct HostLaunch {
    std::vector<std::string> arguments;
    long fileSizeLimit = -1;     // RLIMIT_FSIZE in bytes; -1: none
    int killAfterMillis = -1;    // SIGKILL after this long; -1: never
    int runAsUser = -1;          // uid and gid to switch to (needs root); -1: stay
    bool pipeInput = false;      // standard input from a pipe the test writes
};

// A program started and not yet waited for.
struct StartedHost {
    int pid = -1;
    int input = -1;  // write end of its standard input (pipeInput), else -1
    int output = -1;
    int error = -1;
};

StartedHost startHost(const HostLaunch& launch);
// Closes the program's input, collects its output until it ends, waits for it.
HostRun finishHost(StartedHost& host, int killAfterMillis = -1);
HostRun runHost(const HostLaunch& launch);

// The program under test.
const char* hostProgram();

}  // namespace testing_support
