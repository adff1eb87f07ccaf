// Runs a command and reports the bytes it made the kernel write to storage:
// write_bytes of /proc/<pid>/io, read once the command has exited but
// before it is reaped (waitid with WNOWAIT leaves it a zombie, whose
// counters stay readable), so that every byte it wrote is counted and no
// other process's.
//
//   written_bytes OUTPUT COMMAND [ARGUMENTS...]
//
// Writes the count to OUTPUT and exits with the command's status (128 plus
// the signal's number if a signal ended it).

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// The write_bytes line of /proc/<pid>/io, or -1.
long long writeBytesOf(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    const std::string key = "write_bytes: ";
    for (std::string line; std::getline(io, line);)
        if (line.compare(0, key.size(), key) == 0) return std::stoll(line.substr(key.size()));
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: written_bytes OUTPUT COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    siginfo_t exited{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &exited, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            std::perror("waitid");
            return 1;
        }
    }
    const long long written = writeBytesOf(pid);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr || written < 0 || std::fprintf(out, "%lld\n", written) < 0 || std::fclose(out) != 0) {
        std::fprintf(stderr, "written_bytes: cannot report the bytes written: %s\n",
                     written < 0 ? "no /proc/<pid>/io" : std::strerror(errno));
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
