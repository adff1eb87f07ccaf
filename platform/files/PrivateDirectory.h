#pragma once
// Directories that belong to this user alone: created with mode 0700, never
// reached through a symbolic link, owned by the effective user and not
// writable by anyone else. Each is opened once and checked through its
// descriptor; files are then created, removed and renamed relative to that
// descriptor, so a link swapped in later cannot redirect them.

#include <string>
#include <string_view>

namespace platform::files {

// Creates the directory `path` with mode 0700 when it is absent; with
// `withParents`, its missing parents too. Returns 0 (also when it exists) or
// an errno value. Nothing is checked: opening the directory does that.
int makeDirectory(std::string_view path, bool withParents);

// Opens the directory `name` relative to `parentFd` (AT_FDCWD for a path)
// without following a link at its last component, and checks that this user
// alone controls it. Returns its descriptor, or -1 with errno set: ELOOP for
// a symbolic link, ENOTDIR for something else, EPERM for a directory of
// another user or one that others may write.
int openPrivateDirectoryAt(int parentFd, const char* name);
int openPrivateDirectory(std::string_view path);

// Splits "dir/name" into its directory ("." when none) and last component.
struct PathParts {
    std::string directory;
    std::string name;
};
PathParts splitPath(std::string_view path);

}  // namespace platform::files
