#pragma once
// Runs the real broadcast-extension program (or another) in a child process with its output
// captured, and optionally an environment, a file-size limit and another user.

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

struct HostLaunch {
    std::vector<std::string> arguments{};
    std::string program = BROADCAST_EXTENSION_PROGRAM;               // found on PATH unless a path
    std::vector<std::pair<std::string, std::string>> environment{};  // set in the child
    long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes, SIGXFSZ at its default action; -1: none
    int runAsUser = -1;       // uid and gid to switch to (needs root); -1: stay
};

struct HostRun {
    int exitStatus = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string standardOutput, standardError;
};

// A program started and not yet waited for, and the files its output goes to.
struct StartedHost {
    pid_t pid = -1;
    FILE *output = nullptr, *error = nullptr;
};

inline StartedHost startHost(const HostLaunch& launch) {
    StartedHost host{-1, std::tmpfile(), std::tmpfile()};
    host.pid = ::fork();
    if (host.pid != 0) return host;
    ::dup2(::fileno(host.output), STDOUT_FILENO);
    ::dup2(::fileno(host.error), STDERR_FILENO);
    for (const auto& [name, value] : launch.environment) ::setenv(name.c_str(), value.c_str(), 1);
    if (launch.fileSizeLimit >= 0) {
        ::signal(SIGXFSZ, SIG_DFL);  // the program must survive the limit on its own
        const rlimit limit{static_cast<rlim_t>(launch.fileSizeLimit), static_cast<rlim_t>(launch.fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    const auto user = static_cast<uid_t>(launch.runAsUser);
    if (launch.runAsUser >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
        ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(launch.program.c_str())};
    for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// Waits for the program and collects its output.
inline HostRun finishHost(StartedHost host) {
    int status = 0;
    ::waitpid(host.pid, &status, 0);
    HostRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    for (auto [file, text] : {std::pair{host.output, &run.standardOutput}, std::pair{host.error, &run.standardError}}) {
        std::rewind(file);
        for (int c; (c = std::fgetc(file)) != EOF;) text->push_back(static_cast<char>(c));
        std::fclose(file);
    }
    return run;
}

inline HostRun runHost(const HostLaunch& launch) { return finishHost(startHost(launch)); }

}  // namespace testing_support
