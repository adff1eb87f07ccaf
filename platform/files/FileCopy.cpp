#include "FileCopy.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace platform::files {

namespace {

// Returns 0 when done, ENOSYS/EXDEV/EINVAL when the kernel cannot do it for
// these files (and nothing was copied), or the errno of a real failure.
int copyWithCopyFileRange(int sourceFd, int destinationFd, off_t size) {
    off_t copied = 0;  // advanced by the kernel; the source's own offset stays
    while (copied < size) {
        const ssize_t n =
            ::copy_file_range(sourceFd, &copied, destinationFd, nullptr, static_cast<size_t>(size - copied), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            const bool unsupported = err == ENOSYS || err == EXDEV || err == EINVAL || err == EOPNOTSUPP;
            return unsupported && copied == 0 ? ENOSYS : err;
        }
        if (n == 0) break;  // the source shrank
    }
    return 0;
}

int copyWithReadWrite(int sourceFd, int destinationFd) {
    constexpr size_t kChunk = 1 << 20;
    const auto buffer = std::make_unique<char[]>(kChunk);
    if (::lseek(destinationFd, 0, SEEK_SET) < 0) return errno;
    if (::ftruncate(destinationFd, 0) != 0) return errno;
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(sourceFd, buffer.get(), kChunk, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        offset += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(destinationFd, buffer.get() + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

}  // namespace

bool cloneFile(int sourceFd, int destinationFd) { return ::ioctl(destinationFd, FICLONE, sourceFd) == 0; }

int copyFileContents(int sourceFd, int destinationFd) {
    return cloneFile(sourceFd, destinationFd) ? 0 : copyFileBytes(sourceFd, destinationFd);
}

int copyFileBytes(int sourceFd, int destinationFd) {
    struct stat st {};
    if (::fstat(sourceFd, &st) != 0) return errno;
    if (st.st_size == 0) return 0;
    const int err = copyWithCopyFileRange(sourceFd, destinationFd, st.st_size);
    if (err != ENOSYS) return err;
    return copyWithReadWrite(sourceFd, destinationFd);
}

}  // namespace platform::files
