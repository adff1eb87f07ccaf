#include "PrivateFileCreation.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace media {
namespace {

std::string quoted(std::string_view text) { return "\u201C" + std::string(text) + "\u201D"; }

// An error with the platform's code for `errnum`, a sentence of our own, the
// path, and the system's reason.
NSErrorPtr fileError(int errnum, std::string description, std::string_view path) {
    const NSErrorPtr base = NSError::errorWithPOSIXCode(errnum, "create", path);
    NSError::UserInfo info{{std::string(NSLocalizedDescriptionKey), std::move(description)},
                           {std::string(NSLocalizedFailureReasonErrorKey), std::strerror(errnum)},
                           {std::string(NSFilePathErrorKey), std::string(path)}};
    const std::string_view underlying = base->userInfoValue(NSUnderlyingErrorKey);
    if (!underlying.empty())
        info.emplace_back(std::string(NSUnderlyingErrorKey), std::string(underlying));
    return std::make_shared<NSError>(base->domain(), base->code(), std::move(info));
}

NSErrorPtr unsafeDirectoryError(std::string_view directory, std::string_view reason) {
    NSError::UserInfo info{
        {std::string(NSLocalizedDescriptionKey),
         "The folder " + quoted(directory) + " can\u2019t hold the recording because it isn\u2019t "
         "a private folder of this user."},
        {std::string(NSLocalizedFailureReasonErrorKey), std::string(reason)},
        {std::string(NSFilePathErrorKey), std::string(directory)}};
    return std::make_shared<NSError>(NSCocoaErrorDomain, NSFileWriteNoPermissionError,
                                     std::move(info));
}

class DirectoryHandle {
public:
    explicit DirectoryHandle(int fd) : fd_(fd) {}
    ~DirectoryHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

CreatedFile createFileInPrivateDirectory(std::string_view path) {
    CreatedFile result;
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::string directory = slash == std::string_view::npos ? std::string(".")
                            : slash == 0                    ? std::string("/")
                                                            : std::string(path.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
        result.error = fileError(EISDIR,
                                 "The file " + quoted(path) +
                                     " couldn\u2019t be saved because its name isn\u2019t a file name.",
                                 path);
        return result;
    }

    const DirectoryHandle dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR) {
            // O_NOFOLLOW on a link gives ELOOP; O_DIRECTORY on one may give ENOTDIR.
            struct stat st{};
            if (::lstat(directory.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                result.error = unsafeDirectoryError(directory, "The folder is a symbolic link.");
                return result;
            }
        }
        result.error = fileError(err,
                                 "The file " + quoted(name) + " couldn\u2019t be saved because the folder " +
                                     quoted(directory) + " couldn\u2019t be opened.",
                                 directory);
        return result;
    }

    struct stat st{};
    if (::fstat(dir.get(), &st) != 0) {
        result.error = fileError(errno, "The folder " + quoted(directory) + " couldn\u2019t be examined.",
                                 directory);
        return result;
    }
    if (st.st_uid != ::geteuid()) {
        result.error = unsafeDirectoryError(
            directory, "The folder belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                           std::to_string(::geteuid()) + ".");
        return result;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        result.error = unsafeDirectoryError(directory, "The folder is writable by other users.");
        return result;
    }

    const std::string fileName(name);
    const int fd = ::openat(dir.get(), fileName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        std::string sentence = err == EEXIST
                                   ? "The file " + quoted(name) +
                                         " couldn\u2019t be saved because a file with the same name "
                                         "already exists."
                                   : "The file " + quoted(name) + " couldn\u2019t be saved: " +
                                         std::strerror(err) + ".";
        result.error = fileError(err, std::move(sentence), path);
        return result;
    }
    result.fd = fd;
    return result;
}

}  // namespace media
