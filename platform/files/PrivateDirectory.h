#pragma once
// Directories that belong to this user alone: created with mode 0700, never
// reached through a symbolic link, owned by the effective user and not
// writable by anyone else. Files are then opened relative to a descriptor of
// the directory, so a link swapped in later cannot redirect them.

#include <string>
#include <string_view>

namespace platform::files {

// Creates `path` (and missing parents, all 0700) when absent, then checks it.
// Returns 0, or an errno value: ELOOP for a symlink, ENOTDIR for something
// else, EPERM for a directory of another user or one others may write.
int ensurePrivateDirectory(std::string_view path);

// Opens the private directory `path` (checked as above, not created) and
// returns its descriptor, or -1 with errno set.
int openPrivateDirectory(std::string_view path);

// Splits "dir/name" into its directory ("." when none) and last component.
struct PathParts {
    std::string directory;
    std::string name;
};
PathParts splitPath(std::string_view path);

}  // namespace platform::files
