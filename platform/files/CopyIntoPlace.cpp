#include "CopyIntoPlace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "DescriptorLinks.h"
#include "FileCopy.h"

namespace platform::files {

namespace {

// Enough for every hidden name a live process of the same pid may hold.
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

// Removes hidden names for `name` whose process no longer runs: a placement
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

UniqueDescriptor createHiddenFile(int dirFd, std::string_view name, std::string& hidden) {
    for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
        hidden = partialCopyName(name, ::getpid(), attempt);
        UniqueDescriptor fd(::openat(dirFd, hidden.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd || errno != EEXIST) return fd;
    }
    return UniqueDescriptor();
}

// Gives the open file `fd` an unused hidden name for `name`. Returns 0 or an errno value.
int linkUnderHiddenName(int fd, int dirFd, std::string_view name, std::string& hidden) {
    for (unsigned attempt = 0; attempt < kMaxAttempts; ++attempt) {
        hidden = partialCopyName(name, ::getpid(), attempt);
        if (const int err = linkDescriptor(fd, dirFd, hidden); err != EEXIST) return err;
    }
    return EEXIST;
}

// Renames `hidden` over `name`, replacing what is there (a link itself,
// never its target); removes `hidden` when that fails.
int moveIntoPlace(int dirFd, const std::string& hidden, const std::string& name) {
    if (::renameat(dirFd, hidden.c_str(), dirFd, name.c_str()) == 0) return 0;
    const int err = errno;
    ::unlinkat(dirFd, hidden.c_str(), 0);
    return err;
}

// A new file for a clone or a copy; `hidden` is its name, empty while it is unnamed.
struct NewFile {
    UniqueDescriptor fd;
    std::string hidden;
    int error = 0;  // why there is no file
};

NewFile createNewFile(int dirFd, std::string_view name) {
    NewFile file;
    file.fd.reset(::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (file.fd) return file;
    // Filesystems without unnamed files say EOPNOTSUPP; kernels without them, EISDIR.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) file.fd = createHiddenFile(dirFd, name, file.hidden);
    if (!file.fd) file.error = errno;
    return file;
}

void discard(NewFile& file, int dirFd) {
    if (!file.hidden.empty()) ::unlinkat(dirFd, file.hidden.c_str(), 0);
    file.hidden.clear();
}

Placement placed(PlacementMethod method, int fd) {
    Placement result;
    result.method = method;
    result.placed = reopenReadOnly(fd);
    return result;
}

Placement failed(int err) {
    Placement result;
    result.error = err;
    return result;
}

// Names the finished new file (when unnamed) and renames it over `name`.
Placement publish(NewFile& file, int dirFd, const std::string& name, PlacementMethod method) {
    int err = file.hidden.empty() ? linkUnderHiddenName(file.fd.get(), dirFd, name, file.hidden) : 0;
    if (err == 0) err = moveIntoPlace(dirFd, file.hidden, name);
    file.hidden.clear();  // renamed, or removed by the failed move
    return err == 0 ? placed(method, file.fd.get()) : failed(err);
}

Placement copyInto(NewFile& file, int sourceFd, int dirFd, const std::string& name) {
    if (const int err = copyFileBytes(sourceFd, file.fd.get()); err != 0) {
        discard(file, dirFd);
        return failed(err);
    }
    return publish(file, dirFd, name, PlacementMethod::Copy);
}

// The source itself may become the placed file: this user's regular file,
// private to the user (as a copy would be), that still has a name to link from.
bool mayLinkSource(int sourceFd) {
    struct stat st {};
    return ::fstat(sourceFd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 07777) == 0600 && st.st_nlink > 0;
}

int linkIntoPlace(int sourceFd, int dirFd, const std::string& name) {
    std::string hidden;
    if (const int err = linkUnderHiddenName(sourceFd, dirFd, name, hidden); err != 0) return err;
    return moveIntoPlace(dirFd, hidden, name);
}

}  // namespace

const char* placementMethodName(PlacementMethod method) {
    switch (method) {
        case PlacementMethod::Clone: return "clone";
        case PlacementMethod::Link: return "link";
        case PlacementMethod::Copy: break;
    }
    return "copy";
}

std::string partialCopyName(std::string_view name, long pid, unsigned attempt) {
    return partialPrefix(name) + std::to_string(pid) + "-" + std::to_string(attempt);
}

UniqueDescriptor createPartialCopy(int dirFd, std::string_view name, std::string& partial) {
    removeStalePartialCopies(dirFd, name);
    return createHiddenFile(dirFd, name, partial);
}

Placement placeFile(int sourceFd, int dirFd, const std::string& name) {
    removeStalePartialCopies(dirFd, name);
    NewFile out = createNewFile(dirFd, name);
    if (out.fd && cloneFile(sourceFd, out.fd.get())) return publish(out, dirFd, name, PlacementMethod::Clone);
    // Another filesystem (EXDEV), or a source whose name another process
    // removed meanwhile (ENOENT): copied instead.
    if (mayLinkSource(sourceFd) && linkIntoPlace(sourceFd, dirFd, name) == 0) {
        discard(out, dirFd);
        return placed(PlacementMethod::Link, sourceFd);
    }
    if (!out.fd) return failed(out.error);
    return copyInto(out, sourceFd, dirFd, name);
}

Placement copyUnderHiddenName(int sourceFd, int dirFd, const std::string& name) {
    NewFile out;
    out.fd = createPartialCopy(dirFd, name, out.hidden);
    if (!out.fd) return failed(errno);
    return copyInto(out, sourceFd, dirFd, name);
}

}  // namespace platform::files
