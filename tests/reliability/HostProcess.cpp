#include "HostProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <utility>

namespace testing_support {

const char* hostProgram() { return BROADCAST_EXTENSION_PROGRAM; }

std::vector<std::string> HostRun::logMessages() const {
    std::vector<std::string> messages;
    std::istringstream in(standardError);
    for (std::string line; std::getline(in, line);) {
        // "<date> <time> broadcast-extension[pid:tid] message"
        const size_t mark = line.find("] ");
        if (line.find("broadcast-extension[") == std::string::npos || mark == std::string::npos) continue;
        std::string message = line.substr(mark + 2);
        // The notify transport's own diagnostics are the platform's, not the system's log.
        if (message.rfind("notify: ", 0) != 0) messages.push_back(std::move(message));
    }
    return messages;
}

StartedHost startHost(const HostLaunch& launch) {
    int out[2], err[2], in[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    if (launch.pipeInput && ::pipe2(in, O_CLOEXEC) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (in[0] >= 0) ::dup2(in[0], STDIN_FILENO);
        if (launch.fileSizeLimit >= 0) {
            // The program must survive the limit on its own.
            ::signal(SIGXFSZ, SIG_DFL);
            const rlimit limit{static_cast<rlim_t>(launch.fileSizeLimit), static_cast<rlim_t>(launch.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (launch.runAsUser >= 0) {
            const auto id = static_cast<uid_t>(launch.runAsUser);
            if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(hostProgram())};
        for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(hostProgram(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (in[0] >= 0) ::close(in[0]);
    return {child, in[1], out[0], err[0]};
}

HostRun finishHost(StartedHost& host, int killAfterMillis) {
    if (host.input >= 0) ::close(std::exchange(host.input, -1));
    HostRun run;
    const auto start = std::chrono::steady_clock::now();
    bool killed = false;
    pollfd fds[2] = {{host.output, POLLIN, 0}, {host.error, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        int timeout = -1;
        if (killAfterMillis >= 0 && !killed) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start).count();
            timeout = static_cast<int>(std::max<long long>(0, killAfterMillis - elapsed));
        }
        const int ready = ::poll(fds, 2, timeout);
        if (ready == 0 && !killed) {
            ::kill(host.pid, SIGKILL);
            killed = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? run.standardOutput : run.standardError).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(host.pid, &status, 0);
    if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    return run;
}

HostRun runHost(const HostLaunch& launch) {
    StartedHost host = startHost(launch);
    return finishHost(host, launch.killAfterMillis);
}

}  // namespace testing_support
