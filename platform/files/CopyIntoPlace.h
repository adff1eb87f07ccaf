#pragma once
// Places a file in a directory under a name in one step: whoever opens the
// name meets the file that was there or the whole new one, never a part of
// one, and a process killed midway leaves nothing named behind.

#include <string>
#include <string_view>

#include "UniqueDescriptor.h"

namespace platform::files {

enum class PlacementMethod { Clone, Link, Copy };

// "clone", "link" or "copy".
const char* placementMethodName(PlacementMethod method);

struct Placement {
    int error = 0;  // 0 or an errno value
    PlacementMethod method = PlacementMethod::Copy;
    UniqueDescriptor placed;  // read-only, the file now at the name; empty on failure
};

// Puts the regular file `sourceFd` into the directory `dirFd` as `name`,
// replacing whatever the name holds then (a link itself, never what it
// leads to), by the cheapest means the filesystem offers, in this order:
//  1. a clone (FICLONE) into a new file, where the filesystem shares blocks;
//  2. a hard link of the source itself, when it is this user's file of mode
//     0600 that still has a name, on the same filesystem: constant time,
//     and the placed file is the source's own, whatever its name holds now;
//  3. a copy into a new file.
// A new file has mode 0600 and is written unnamed (O_TMPFILE), or where the
// filesystem has no unnamed files under a hidden name; the new file or the
// link then gets a hidden name that is renamed over `name`. Hidden names of
// processes that are gone are removed first.
Placement placeFile(int sourceFd, int dirFd, const std::string& name);

// Step 3 for filesystems without unnamed files: the copy is written under a
// hidden name, renamed over `name` when complete and removed when it fails.
Placement copyUnderHiddenName(int sourceFd, int dirFd, const std::string& name);

// The hidden name of a partial copy (or link) of `name` made by process `pid`.
std::string partialCopyName(std::string_view name, long pid, unsigned attempt);

// Creates an unused hidden partial file for `name` in `dirFd` and sets
// `partial` to its name, after removing the partial copies of `name` that
// processes no longer running left behind. Returns the file (readable and
// writable), or an empty descriptor with errno set.
UniqueDescriptor createPartialCopy(int dirFd, std::string_view name, std::string& partial);

}  // namespace platform::files
