#include "NSFileManager.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "FileCopy.h"
#include "PrivateDirectory.h"
#include "UniqueDescriptor.h"

namespace {

struct Locations {
    std::mutex mutex;
    std::string containerRoot;    // override; empty: from the environment
    std::string temporaryParent;  // override; empty: from the environment
    std::vector<std::string> entitledGroups;
};

Locations& locations() {
    static Locations l;
    return l;
}

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); isAbsolute(home)) return home;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && isAbsolute(pw->pw_dir))
        return pw->pw_dir;
    return "/";
}

std::string temporaryParent() {
    {
        std::lock_guard lock(locations().mutex);
        if (!locations().temporaryParent.empty()) return locations().temporaryParent;
    }
    if (const char* tmp = std::getenv("TMPDIR"); isAbsolute(tmp)) return tmp;
    return "/tmp";
}

using platform::files::UniqueDescriptor;

void setError(NSErrorPtr* out, NSErrorPtr error) {
    if (out != nullptr) *out = std::move(error);
}

// A hidden name beside `name` that no other copy in flight uses.
std::string partialName(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    return "." + name + ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Moves the finished copy into place without replacing a file that appeared
// meanwhile: renameat2 with RENAME_NOREPLACE, or link and unlink where the
// filesystem does not support it.
int publish(int dirFd, const std::string& from, const std::string& to) {
    if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0) return errno;
    ::unlinkat(dirFd, from.c_str(), 0);
    return 0;
}

}  // namespace

std::string NSTemporaryDirectory() {
    const std::string path = stringByAppendingPathComponent(
        temporaryParent(), "broadcast-extension-" + std::to_string(::geteuid()));
    // The check's outcome is enforced where files are created inside it.
    (void)platform::files::ensurePrivateDirectory(path);
    return path;
}

NSFileManager& NSFileManager::defaultManager() {
    static NSFileManager manager;
    return manager;
}

std::optional<NSURL> NSFileManager::containerURLForSecurityApplicationGroupIdentifier(
    std::string_view groupIdentifier) {
    {
        std::lock_guard lock(locations().mutex);
        const auto& groups = locations().entitledGroups;
        if (groupIdentifier.empty() || groupIdentifier.find('/') != std::string_view::npos ||
            groupIdentifier == "." || groupIdentifier == ".." ||
            std::find(groups.begin(), groups.end(), groupIdentifier) == groups.end())
            return std::nullopt;
    }
    const std::string path = stringByAppendingPathComponent(platform::appGroupContainerRoot(), groupIdentifier);
    if (platform::files::ensurePrivateDirectory(path) != 0) return std::nullopt;
    return NSURL::fileURLWithPath(path);
}

bool NSFileManager::removeItemAtURL(const std::optional<NSURL>& url, NSErrorPtr* error) {
    if (!url) {
        setError(error, NSError::errorWithDescription(NSCocoaErrorDomain, NSFileNoSuchFileError,
                                                      "There is no item to remove."));
        return false;
    }
    const std::string& path = url->path();
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == EISDIR || errno == EPERM) {
        if (::rmdir(path.c_str()) == 0) return true;
    }
    setError(error, NSError::errorWithPOSIXCode(errno, "remove", path));
    return false;
}

bool NSFileManager::copyItemAtURL(const NSURL& source, const std::optional<NSURL>& destination,
                                  NSErrorPtr* error) {
    if (!destination) {
        setError(error, NSError::errorWithDescription(
                            NSCocoaErrorDomain, NSFileNoSuchFileError,
                            "The file couldn't be copied because there is no destination: the "
                            "app-group container is not available.",
                            source.path()));
        return false;
    }
    const std::string& from = source.path();
    const std::string& to = destination->path();

    UniqueDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in) {
        setError(error, NSError::errorWithPOSIXCode(errno, "copy", from, to));
        return false;
    }
    struct stat st{};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, NSError::errorWithPOSIXCode(S_ISREG(st.st_mode) ? errno : EINVAL, "copy", from, to));
        return false;
    }

    const auto [directory, name] = platform::files::splitPath(to);
    UniqueDescriptor dir(platform::files::openPrivateDirectory(directory));
    if (!dir) {
        setError(error, NSError::errorWithPOSIXCode(errno, "copy", from, to));
        return false;
    }
    struct stat existing{};
    if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        setError(error, NSError::errorWithPOSIXCode(EEXIST, "copy", from, to));
        return false;
    }

    const std::string partial = partialName(name);
    UniqueDescriptor out(::openat(dir.get(), partial.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!out) {
        setError(error, NSError::errorWithPOSIXCode(errno, "copy", from, to));
        return false;
    }
    int err = platform::files::copyFileContents(in.get(), out.get());
    if (err == 0) err = publish(dir.get(), partial, name);
    if (err != 0) {
        ::unlinkat(dir.get(), partial.c_str(), 0);
        setError(error, NSError::errorWithPOSIXCode(err, "copy", from, to));
        return false;
    }
    return true;
}

namespace platform {

std::string appGroupContainerRoot() {
    {
        std::lock_guard lock(locations().mutex);
        if (!locations().containerRoot.empty()) return locations().containerRoot;
    }
    if (const char* root = std::getenv("APP_GROUP_CONTAINER_ROOT"); isAbsolute(root)) return root;
    if (const char* data = std::getenv("XDG_DATA_HOME"); isAbsolute(data))
        return stringByAppendingPathComponent(data, "app-groups");
    return stringByAppendingPathComponent(homeDirectory(), ".local/share/app-groups");
}

void setAppGroupContainerRoot(std::string_view root) {
    std::lock_guard lock(locations().mutex);
    locations().containerRoot = root;
}

void setTemporaryDirectoryParent(std::string_view parent) {
    std::lock_guard lock(locations().mutex);
    locations().temporaryParent = parent;
}

void setEntitledApplicationGroups(std::vector<std::string> groups) {
    std::lock_guard lock(locations().mutex);
    locations().entitledGroups = std::move(groups);
}

}  // namespace platform
