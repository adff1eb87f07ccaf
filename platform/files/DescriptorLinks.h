#pragma once
// Reaching an open file again through its descriptor, never through a name:
// a name may meanwhile lead to another file (another process removed it and
// created its own), the descriptor always leads to this one.

#include <string>

#include "UniqueDescriptor.h"

namespace platform::files {

// A read-only descriptor of the file open as `fd` (close-on-exec), or an
// empty one with errno set.
UniqueDescriptor reopenReadOnly(int fd);

// Gives the file open as `fd` the name `name` in the directory `dirFd`,
// never replacing anything there. Fails (returns an errno value) with
// ENOENT when the file has no name left (removed, or never named), EXDEV
// when it lives on another filesystem, EEXIST when `name` is taken.
int linkDescriptor(int fd, int dirFd, const std::string& name);

}  // namespace platform::files
