#include "FilePass.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace media::wave {

ssize_t readAt(int fd, uint8_t* out, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// The same open file, reopened to bypass the page cache; where the file
// system cannot, every read stays buffered.
FilePass::FilePass(int fd, bool direct)
    : fd_(fd),
      directFd_(direct ? ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC)
                       : -1) {}

FilePass::~FilePass() {
    if (directFd_ >= 0) ::close(directFd_);
}

ssize_t FilePass::read(uint8_t* out, size_t size, uint64_t offset) {
    if (directFd_ >= 0) {
        const size_t whole = (size + kAlign - 1) / kAlign * kAlign;
        const ssize_t got = readAt(directFd_, out, whole, offset);
        if (got >= 0) return got < static_cast<ssize_t>(size) ? got : static_cast<ssize_t>(size);
        if (errno != EINVAL) return -1;
        ::close(directFd_);  // an alignment the device refuses: buffered from now on
        directFd_ = -1;
    }
    return readAt(fd_, out, size, offset);
}

}  // namespace media::wave
