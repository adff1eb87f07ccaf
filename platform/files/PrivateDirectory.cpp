#include "PrivateDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::files {

namespace {

// 0 when the directory described by `st` is one this user alone controls.
int checkPrivate(const struct stat& st) {
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (st.st_uid != ::geteuid()) return EPERM;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return EPERM;
    return 0;
}

}  // namespace

int makeDirectory(std::string_view path, bool withParents) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty()) return ENOENT;
    if (::mkdir(p.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    if (errno != ENOENT || !withParents) return errno;
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ENOENT;
    if (const int err = makeDirectory(p.substr(0, slash), true); err != 0) return err;
    if (::mkdir(p.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    return errno;
}

int openPrivateDirectoryAt(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // O_NOFOLLOW on a link to a directory fails with ENOTDIR or ELOOP.
        struct stat st {};
        if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
        return -1;
    }
    struct stat st {};
    const int err = ::fstat(fd, &st) != 0 ? errno : checkPrivate(st);
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

int openPrivateDirectory(std::string_view path) {
    std::string p(path.empty() ? "." : path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return openPrivateDirectoryAt(AT_FDCWD, p.c_str());
}

PathParts splitPath(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {".", std::string(path)};
    return {slash == 0 ? std::string("/") : std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

}  // namespace platform::files
