#include "NSFileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "CopyIntoPlace.h"
#include "CreatedFiles.h"
#include "HandOverRecord.h"
#include "PrivateDirectory.h"
#include "RemovalMemory.h"
#include "UniqueDescriptor.h"

namespace {

struct Entitlements {
    std::mutex mutex;
    std::vector<std::string> groups;
};

Entitlements& entitlements() {
    static Entitlements e;
    return e;
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
    if (root.empty() || root.front() != '/') {
        errno = ENOENT;
        return {};
    }
    if (create) (void)platform::files::makeDirectory(root, true);  // the open reports failures
    const UniqueDescriptor rootDir(platform::files::openPrivateDirectory(root));
    if (!rootDir) return {};
    if (create && ::mkdirat(rootDir.get(), group.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return UniqueDescriptor(platform::files::openPrivateDirectoryAt(rootDir.get(), group.c_str()));
}

// Opens the private directory that holds the absolute `path` and sets `name`
// to the last component, which the caller then reaches only relative to the
// descriptor. A container's directory is opened from the container root
// down, and `inContainer` set.
UniqueDescriptor openDirectoryHolding(const std::string& path, std::string& name, bool* inContainer = nullptr) {
    if (path.empty() || path.front() != '/') {  // relative to wherever the process runs: refused
        errno = EINVAL;
        return {};
    }
    const auto [directory, last] = platform::files::splitPath(path);
    name = last;
    const auto [parent, group] = platform::files::splitPath(directory);
    const bool container = parent == withoutTrailingSlashes(platform::appGroupContainerRoot());
    if (inContainer != nullptr) *inContainer = container;
    if (container) return openContainer(parent, group, false);
    return UniqueDescriptor(platform::files::openPrivateDirectory(directory));
}

// The copy behind copyItemAtURL, as the hand-over it keeps.
platform::files::HandOver copyIntoPlace(const NSURL& source, const std::optional<NSURL>& destination) {
    platform::files::HandOver handOver;
    if (!destination) {
        handOver.error = NSError::errorWithDescription(
            NSCocoaErrorDomain, NSFileNoSuchFileError,
            "The file couldn't be copied because there is no destination: the app-group container is not available.",
            source.path());
        return handOver;
    }
    const std::string& from = source.path();
    const std::string& to = destination->path();
    handOver.destination = to;
    // What another process placed since this one removed the destination is replaced: the newest wins.
    const bool removedFirst = platform::files::takeRemovalAsked(to);
    const auto fail = [&](int err) {
        handOver.error = NSError::errorWithPOSIXCode(err, "copy", from, to);
        return handOver;
    };

    // A file this process created at the source path is copied from its own
    // descriptor: another process may have put a file of its own at the name.
    const platform::files::CreatedFileLookup created = platform::files::createdFileAt(from);
    UniqueDescriptor opened;
    int in = created.fd;
    if (in < 0) {
        std::string name;
        const UniqueDescriptor sourceDir = openDirectoryHolding(from, name);
        if (!sourceDir) return fail(errno);
        opened.reset(::openat(sourceDir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!opened) return fail(errno);
        in = opened.get();
    }
    struct stat st {};
    if (::fstat(in, &st) != 0) return fail(errno);
    if (!S_ISREG(st.st_mode)) return fail(EINVAL);

    std::string name;
    const UniqueDescriptor dir = openDirectoryHolding(to, name);
    if (!dir) return fail(errno);
    struct stat existing {};
    if (!removedFirst && ::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return fail(EEXIST);
    platform::files::Placement placement = platform::files::placeFile(in, dir.get(), name);
    if (placement.error != 0) return fail(placement.error);
    handOver.method = placement.method;
    handOver.placed = std::make_shared<const UniqueDescriptor>(std::move(placement.placed));
    handOver.sourceCutShort = created.cutShort;
    return handOver;
}

}  // namespace

std::string NSTemporaryDirectory() {
    const platform::FolderChoice parent = platform::chooseTemporaryDirectoryParent();
    if (!parent.problem.empty()) return {};
    // Only the cache folder is made as well: TMPDIR, or a parent given, that
    // is missing is the caller's to fix, not to be made up here. Whether the
    // directory is private is checked where files are created inside it.
    if (parent.createWhenMissing) (void)platform::files::makeDirectory(parent.path, true);
    const std::string path =
        stringByAppendingPathComponent(parent.path, "broadcast-extension-" + std::to_string(::geteuid()));
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
        std::lock_guard lock(entitlements().mutex);
        const auto& groups = entitlements().groups;
        if (groupIdentifier.empty() || groupIdentifier.find('/') != std::string_view::npos || groupIdentifier == "." ||
            groupIdentifier == ".." || std::find(groups.begin(), groups.end(), groupIdentifier) == groups.end())
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
    platform::files::noteRemovalAsked(path);
    std::string name;
    bool inContainer = false;
    const UniqueDescriptor dir = openDirectoryHolding(path, name, &inContainer);
    const bool removed =
        dir && (::unlinkat(dir.get(), name.c_str(), 0) == 0 ||
                ((errno == EISDIR || errno == EPERM) && ::unlinkat(dir.get(), name.c_str(), AT_REMOVEDIR) == 0));
    if (removed) {
        if (inContainer) platform::files::countContainerRemoval();
        return true;
    }
    setError(error, NSError::errorWithPOSIXCode(errno, "remove", path));
    return false;
}

bool NSFileManager::copyItemAtURL(const NSURL& source, const std::optional<NSURL>& destination, NSErrorPtr* error) {
    platform::files::HandOver handOver = copyIntoPlace(source, destination);
    const bool copied = !handOver.error;
    setError(error, handOver.error);
    platform::files::recordHandOver(std::move(handOver));
    return copied;
}

namespace platform {

void setEntitledApplicationGroups(std::vector<std::string> groups) {
    std::lock_guard lock(entitlements().mutex);
    entitlements().groups = std::move(groups);
}

}  // namespace platform
