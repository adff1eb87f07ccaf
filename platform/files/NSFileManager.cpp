#include "NSFileManager.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "CopyIntoPlace.h"
#include "CreatedFiles.h"
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

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Opens the container `group` below the container root, each checked in
// turn, the group's directory relative to the root's descriptor: neither can
// be swapped for a link between the check and the use. With `create`, makes
// what is missing (the root with its parents), all 0700.
UniqueDescriptor openContainer(const std::string& root, const std::string& group, bool create) {
    if (create) (void)platform::files::makeDirectory(root, true);  // the open reports failures
    const UniqueDescriptor rootDir(platform::files::openPrivateDirectory(root));
    if (!rootDir) return {};
    if (create && ::mkdirat(rootDir.get(), group.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return UniqueDescriptor(platform::files::openPrivateDirectoryAt(rootDir.get(), group.c_str()));
}

// Opens the private directory that holds `path` and sets `name` to the last
// component, which the caller then reaches only relative to the descriptor.
// A container's directory is opened from the container root down.
UniqueDescriptor openDirectoryHolding(const std::string& path, std::string& name) {
    const auto [directory, last] = platform::files::splitPath(path);
    name = last;
    const auto [parent, group] = platform::files::splitPath(directory);
    if (parent == withoutTrailingSlashes(platform::appGroupContainerRoot())) return openContainer(parent, group, false);
    return UniqueDescriptor(platform::files::openPrivateDirectory(directory));
}

}  // namespace

std::string NSTemporaryDirectory() {
    const std::string path = stringByAppendingPathComponent(
        temporaryParent(), "broadcast-extension-" + std::to_string(::geteuid()));
    // Only the last component is made: a missing parent is the caller's to
    // fix, not to be made up here. Whether the directory is private is
    // checked where files are created inside it.
    (void)platform::files::makeDirectory(path, false);
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
    const std::string root = withoutTrailingSlashes(platform::appGroupContainerRoot());
    if (!openContainer(root, std::string(groupIdentifier), true)) return std::nullopt;
    return NSURL::fileURLWithPath(stringByAppendingPathComponent(root, groupIdentifier));
}

bool NSFileManager::removeItemAtURL(const std::optional<NSURL>& url, NSErrorPtr* error) {
    if (!url) {
        setError(error, NSError::errorWithDescription(NSCocoaErrorDomain, NSFileNoSuchFileError,
                                                      "There is no item to remove."));
        return false;
    }
    const std::string& path = url->path();
    std::string name;
    const UniqueDescriptor dir = openDirectoryHolding(path, name);
    if (dir && ::unlinkat(dir.get(), name.c_str(), 0) == 0) return true;
    if (dir && (errno == EISDIR || errno == EPERM) && ::unlinkat(dir.get(), name.c_str(), AT_REMOVEDIR) == 0)
        return true;
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
    const auto fail = [&](int err) {
        setError(error, NSError::errorWithPOSIXCode(err, "copy", from, to));
        return false;
    };

    // A file this process created at the source path is copied from its own
    // descriptor: another process may have put a file of its own at the name.
    UniqueDescriptor opened;
    int in = platform::files::descriptorOfCreatedFile(from);
    if (in < 0) {
        std::string name;
        const UniqueDescriptor sourceDir = openDirectoryHolding(from, name);
        if (!sourceDir) return fail(errno);
        opened.reset(::openat(sourceDir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!opened) return fail(errno);
        in = opened.get();
    }
    struct stat st{};
    if (::fstat(in, &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode)) return fail(EINVAL);

    std::string name;
    const UniqueDescriptor dir = openDirectoryHolding(to, name);
    if (!dir) return fail(errno);
    struct stat existing{};
    if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return fail(EEXIST);
    if (const int err = platform::files::copyIntoPlace(in, dir.get(), name); err != 0) return fail(err);
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
