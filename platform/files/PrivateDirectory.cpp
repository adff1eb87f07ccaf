#include "PrivateDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::files {

namespace {

// 0 when the directory described by `st` is one this user alone controls.
int checkPrivate(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return ELOOP;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (st.st_uid != ::geteuid()) return EPERM;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return EPERM;
    return 0;
}

int makeDirectories(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) return 0;
    if (errno == EEXIST) return 0;
    if (errno != ENOENT) return errno;
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ENOENT;
    if (const int err = makeDirectories(path.substr(0, slash)); err != 0) return err;
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    return errno;
}

}  // namespace

int ensurePrivateDirectory(std::string_view path) {
    if (path.empty()) return ENOENT;
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0) {
        if (errno != ENOENT) return errno;
        if (const int err = makeDirectories(p); err != 0) return err;
        if (::lstat(p.c_str(), &st) != 0) return errno;
    }
    return checkPrivate(st);
}

int openPrivateDirectory(std::string_view path) {
    std::string p(path.empty() ? "." : path);
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // O_NOFOLLOW on a link to a directory fails with ENOTDIR or ELOOP.
        struct stat st{};
        if (::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
        return -1;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (const int err = checkPrivate(st); err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

PathParts splitPath(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return {".", std::string(path)};
    return {slash == 0 ? std::string("/") : std::string(path.substr(0, slash)),
            std::string(path.substr(slash + 1))};
}

}  // namespace platform::files
