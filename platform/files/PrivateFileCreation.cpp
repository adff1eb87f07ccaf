#include "PrivateFileCreation.h"

#include "PrivateDirectory.h"
#include "RemovalMemory.h"
#include "UniqueDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string>

namespace platform::files {
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
    if (!underlying.empty()) info.emplace_back(std::string(NSUnderlyingErrorKey), std::string(underlying));
    return std::make_shared<NSError>(base->domain(), base->code(), std::move(info));
}

NSErrorPtr unsafeDirectoryError(std::string_view directory, std::string_view reason) {
    NSError::UserInfo info{
        {std::string(NSLocalizedDescriptionKey), "The folder " + quoted(directory) +
                                                     " can\u2019t hold the recording because it isn\u2019t "
                                                     "a private folder of this user: " +
                                                     std::string(reason)},
        {std::string(NSLocalizedFailureReasonErrorKey), std::string(reason)},
        {std::string(NSFilePathErrorKey), std::string(directory)}};
    return std::make_shared<NSError>(NSCocoaErrorDomain, NSFileWriteNoPermissionError, std::move(info));
}

// Enough for every set-up of a crowd of broadcasts starting at one moment.
constexpr int kTakeOverAttempts = 64;

// Creates `name` in `dirFd` exclusively, never through a link, readable too
// (the hand-over copies from this descriptor). When this process last asked
// to remove `path`, a file another process made there since (its own set-up
// at the same moment) loses the name to this one, as an overlapping
// broadcast's recording does: the other keeps writing, and hands over, its
// own file through its descriptor.
int createExclusively(int dirFd, const std::string& name, std::string_view path) {
    const bool removedFirst = takeRemovalAsked(path);
    for (int attempt = 0;; ++attempt) {
        const int fd = ::openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST || !removedFirst || attempt == kTakeOverAttempts) return fd;
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
            errno = EEXIST;  // a directory, say: the name is not to be taken
            return -1;
        }
    }
}

}  // namespace

CreatedFile createFileInPrivateDirectory(std::string_view path) {
    CreatedFile result;
    const auto [directory, name] = splitPath(path);
    if (path.empty() || path.front() != '/') {
        // A relative path would land wherever the process happens to run.
        result.error = fileError(
            EINVAL,
            "The file " + quoted(name) + " couldn\u2019t be saved because its folder isn\u2019t an absolute path.",
            path);
        return result;
    }
    if (name.empty() || name == "." || name == "..") {
        result.error = fileError(
            EISDIR, "The file " + quoted(path) + " couldn\u2019t be saved because its name isn\u2019t a file name.",
            path);
        return result;
    }

    const UniqueDescriptor dir(openPrivateDirectory(directory));
    if (!dir) {
        const int err = errno;
        if (err == ELOOP) {
            result.error = unsafeDirectoryError(directory, "it is a symbolic link.");
        } else if (err == EPERM) {
            result.error = unsafeDirectoryError(directory, "it belongs to another user or others may write to it.");
        } else {
            result.error = fileError(err,
                                     "The file " + quoted(name) + " couldn\u2019t be saved because the folder " +
                                         quoted(directory) + " couldn\u2019t be opened: " + std::strerror(err) + ".",
                                     directory);
        }
        return result;
    }

    const int fd = createExclusively(dir.get(), name, path);
    if (fd < 0) {
        const int err = errno;
        std::string sentence =
            err == EEXIST ? "The file " + quoted(name) +
                                " couldn\u2019t be saved because a file with the same name "
                                "already exists."
                          : "The file " + quoted(name) + " couldn\u2019t be saved: " + std::strerror(err) + ".";
        result.error = fileError(err, std::move(sentence), path);
        return result;
    }
    result.fd = fd;
    return result;
}

}  // namespace platform::files
