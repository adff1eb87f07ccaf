#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/notify/NotifyObserver.h"

extern char** environ;

namespace notifytest {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (const auto& x : extra)
            if (x.substr(0, x.find('=')) == name) overridden = true;
        if (!overridden) env.push_back(entry);
    }
    for (const auto& x : extra)
        if (x.find('=') != std::string::npos) env.push_back(x);  // "NAME" alone unsets
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

pid_t spawn(std::vector<std::string> argv, std::vector<std::string> env, int outFd, int errFd,
            int extraFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    if (errFd >= 0) posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    (void)extraFd;  // inherited as is (it is not close-on-exec)
    auto args = pointers(argv);
    auto envp = pointers(env);
    pid_t pid = -1;
    const int r = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(r));
    return pid;
}

}  // namespace

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    pattern += "/notify-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = spawn(argv, environmentWith(extraEnv), out[1], err[1]);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

Child::~Child() {
    if (!reaped_) wait(std::chrono::milliseconds(0));
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

std::optional<std::string> Child::readLine(std::chrono::milliseconds timeout) {
    return readLineFrom(out_, buffered_, timeout);
}

std::optional<std::string> Child::readErrorLine(std::chrono::milliseconds timeout) {
    return readLineFrom(err_, bufferedError_, timeout);
}

std::optional<std::string> Child::readLineFrom(int fd, std::string& buffer, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto newline = buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer.substr(0, newline);
            buffer.erase(0, newline + 1);
            return line;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer.append(chunk, static_cast<size_t>(n));
    }
}

int Child::wait(std::chrono::milliseconds timeout) {
    if (reaped_) return status_;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return status_;
}

std::string Child::standardError() {
    std::string text = std::exchange(bufferedError_, {});
    char chunk[4096];
    const int flags = fcntl(err_, F_GETFL);
    fcntl(err_, F_SETFL, flags | O_NONBLOCK);
    for (;;) {
        const ssize_t n = read(err_, chunk, sizeof chunk);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    return text;
}

int run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, std::string* output) {
    Child child(argv, extraEnv);
    std::string all;
    while (auto line = child.readLine(std::chrono::seconds(30))) all += *line + "\n";
    const int status = child.wait(std::chrono::seconds(30));
    if (output != nullptr) *output = all;
    return status;
}

PrivateBusDaemon::PrivateBusDaemon(const std::string& socketPath) {
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) return;
    int addressPipe[2];
    if (pipe(addressPipe) != 0) return;  // the write end must survive exec
    fcntl(addressPipe[0], F_SETFD, FD_CLOEXEC);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = spawn({"/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                  "--nopidfile", "--address=unix:path=" + (socketPath.empty() ? dir_.path() + "/bus" : socketPath),
                  "--print-address=" + std::to_string(addressPipe[1])},
                 environmentWith({}), -1, devnull, addressPipe[1]);
    close(devnull);
    close(addressPipe[1]);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd p{addressPipe[0], POLLIN, 0};
        if (poll(&p, 1, remainingMs(deadline)) <= 0) break;
        char chunk[512];
        const ssize_t n = read(addressPipe[0], chunk, sizeof chunk);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
    }
    close(addressPipe[0]);
    if (text.find('\n') != std::string::npos) address_ = text.substr(0, text.find('\n'));
}

PrivateBusDaemon::~PrivateBusDaemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

void PrivateBusDaemon::freeze() { kill(pid_, SIGSTOP); }
void PrivateBusDaemon::thaw() { kill(pid_, SIGCONT); }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

bool sessionBusAvailable() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) return false;
    try {
        platform::NotifyObserver probe({"org.darwin.notify.probe"}, std::chrono::seconds(3));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace notifytest
