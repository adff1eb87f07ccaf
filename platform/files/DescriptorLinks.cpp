#include "DescriptorLinks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform::files {
namespace {

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

UniqueDescriptor reopenReadOnly(int fd) {
    // Opening the descriptor's /proc entry opens the file itself, even one whose name is gone.
    UniqueDescriptor reopened(::open(procPath(fd).c_str(), O_RDONLY | O_CLOEXEC));
    if (!reopened) reopened.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));  // without /proc: the same open file
    return reopened;
}

int linkDescriptor(int fd, int dirFd, const std::string& name) {
    if (::linkat(AT_FDCWD, procPath(fd).c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int err = errno;
    if (err != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return err;
    // Without /proc, a process allowed to (CAP_DAC_READ_SEARCH) links the descriptor itself.
    return ::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

}  // namespace platform::files
