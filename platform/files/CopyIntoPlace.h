#pragma once
// Places a copy of an open file in a directory under a new name, so that the
// name appears only once the copy is complete and never replaces a file that
// is already there.

#include <string>
#include <string_view>

#include "UniqueDescriptor.h"

namespace platform::files {

// Copies the regular file `sourceFd` into the directory `dirFd` as `name`
// (mode 0600). The copy is written into an unnamed file (O_TMPFILE) that is
// linked in at the end, so a process killed during the copy leaves nothing
// behind. Where the filesystem has no unnamed files, it is written under a
// hidden partial name and renamed; a failed copy removes it. Either way the
// link fails with EEXIST when `name` appeared meanwhile. Returns 0 or an
// errno value.
int copyIntoPlace(int sourceFd, int dirFd, const std::string& name);

// The hidden name of a partial copy of `name` made by process `pid`.
std::string partialCopyName(std::string_view name, long pid, unsigned attempt);

// Creates an unused hidden partial file for `name` in `dirFd` and sets
// `partial` to its name, after removing the partial copies of `name` that
// processes no longer running left behind. Returns the file, or an empty
// descriptor with errno set.
UniqueDescriptor createPartialCopy(int dirFd, std::string_view name, std::string& partial);

}  // namespace platform::files
