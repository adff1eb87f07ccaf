#include "RecordingArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace containing_app {

namespace {

// Enough for many copies within one second; past that something is wrong.
constexpr int kMaxSuffix = 9999;

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Copies everything from `source` (read from offset 0) to `target`; returns 0 or an errno.
int copyAll(int source, int target) {
    char buffer[1 << 16];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(source, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        ssize_t written = 0;
        while (written < n) {
            const ssize_t w = ::write(target, buffer + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return errno;
            written += w;
        }
        offset += n;
    }
}

}  // namespace

std::string recordingBaseName(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "recording-%Y%m%d-%H%M%S", &local);
    return text;
}

RecordingArchive::RecordingArchive(std::string directory) : directory_(std::move(directory)) {
    std::error_code ignored;  // a failure shows when keeping the first copy
    std::filesystem::create_directories(directory_, ignored);
}

KeepResult RecordingArchive::keep(int sourceFd, std::time_t when) const {
    KeepResult result;
    Fd dir(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0) {
        result.error = "cannot open " + directory_ + ": " + std::strerror(errno);
        return result;
    }
    const std::string base = recordingBaseName(when);
    for (int suffix = 0; suffix <= kMaxSuffix; ++suffix) {
        std::string name = base;
        if (suffix > 0) name.append("-").append(std::to_string(suffix));
        name.append(".wav");
        Fd target(::openat(dir.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (target.fd < 0) {
            if (errno == EEXIST) continue;
            result.error = "cannot create " + directory_ + "/" + name + ": " + std::strerror(errno);
            return result;
        }
        int error = copyAll(sourceFd, target.fd);
        if (error == 0 && ::fsync(target.fd) != 0) error = errno;
        if (error == 0) {
            const int fd = std::exchange(target.fd, -1);
            if (::close(fd) != 0) error = errno;
        }
        if (error != 0) {
            ::unlinkat(dir.fd, name.c_str(), 0);
            result.error = "cannot copy to " + directory_ + "/" + name + ": " + std::strerror(error);
            return result;
        }
        result.kept = true;
        result.path = directory_ + "/" + name;
        return result;
    }
    result.error = "every name " + base + "[-N].wav in " + directory_ + " is taken";
    return result;
}

}  // namespace containing_app
