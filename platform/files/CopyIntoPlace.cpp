#include "CopyIntoPlace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "FileCopy.h"

namespace platform::files {

namespace {

// Enough for every partial copy a live process of the same pid may hold.
constexpr unsigned kMaxAttempts = 1000;

std::string partialPrefix(std::string_view name) {
    std::string prefix(".");
    return prefix.append(name).append(".partial-");
}

// The pid in a partial name "<prefix><pid>-<attempt>", or -1 when it is not one.
long partialOwner(std::string_view entry, std::string_view prefix) {
    if (entry.substr(0, prefix.size()) != prefix) return -1;
    const char* const end = entry.data() + entry.size();
    long pid = -1;
    unsigned attempt = 0;
    const auto [dash, ok] = std::from_chars(entry.data() + prefix.size(), end, pid);
    if (ok != std::errc() || dash == end || *dash != '-' || pid <= 0) return -1;
    const auto [last, ok2] = std::from_chars(dash + 1, end, attempt);
    return ok2 == std::errc() && last == end ? pid : -1;
}

bool processIsAlive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

// Removes partial copies of `name` whose process no longer runs: a copy
// killed midway must not block later ones or stay forever.
void removeStalePartialCopies(int dirFd, std::string_view name) {
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return;
    }
    const std::string prefix = partialPrefix(name);
    while (const dirent* entry = ::readdir(dir)) {
        const long pid = partialOwner(entry->d_name, prefix);
        if (pid > 0 && !processIsAlive(pid)) ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Links the unnamed file `fd` into `dirFd` as `name`; never replaces a file.
int linkUnnamed(int fd, int dirFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != ENOENT) return errno;
    // Without /proc, a process allowed to (CAP_DAC_READ_SEARCH) links the descriptor itself.
    return ::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
}

// Moves the finished partial copy into place without replacing a file that
// appeared meanwhile: renameat2 with RENAME_NOREPLACE, or link and unlink
// where the filesystem does not support it.
int publish(int dirFd, const std::string& from, const std::string& to) {
    if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0) return errno;
    ::unlinkat(dirFd, from.c_str(), 0);
    return 0;
}

}  // namespace

std::string partialCopyName(std::string_view name, long pid, unsigned attempt) {
    return partialPrefix(name) + std::to_string(pid) + "-" + std::to_string(attempt);
}

UniqueDescriptor createPartialCopy(int dirFd, std::string_view name, std::string& partial) {
    removeStalePartialCopies(dirFd, name);
    for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
        partial = partialCopyName(name, ::getpid(), attempt);
        UniqueDescriptor fd(
            ::openat(dirFd, partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd || errno != EEXIST) return fd;
    }
    return UniqueDescriptor();
}

int copyIntoPlace(int sourceFd, int dirFd, const std::string& name) {
    if (UniqueDescriptor out(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)); out) {
        const int err = copyFileContents(sourceFd, out.get());
        return err != 0 ? err : linkUnnamed(out.get(), dirFd, name);
    }
    // Filesystems without unnamed files say EOPNOTSUPP; kernels without them, EISDIR.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    std::string partial;
    const UniqueDescriptor out = createPartialCopy(dirFd, name, partial);
    if (!out) return errno;
    int err = copyFileContents(sourceFd, out.get());
    if (err == 0) err = publish(dirFd, partial, name);
    if (err != 0) ::unlinkat(dirFd, partial.c_str(), 0);
    return err;
}

}  // namespace platform::files
