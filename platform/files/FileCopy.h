#pragma once
// Copies an open file's bytes into another with the cheapest means the
// filesystem offers: a clone, then copy_file_range, then read and write.

namespace platform::files {

// Copies all of `sourceFd` (from offset 0) into the empty `destinationFd`.
// The source's file offset is left where it was. Returns 0 or an errno value.
int copyFileContents(int sourceFd, int destinationFd);

// The two halves of copyFileContents. A clone shares the source's blocks
// (where the filesystem can, e.g. btrfs, XFS) and returns false elsewhere;
// the byte copy uses copy_file_range, else read and write.
bool cloneFile(int sourceFd, int destinationFd);
int copyFileBytes(int sourceFd, int destinationFd);

}  // namespace platform::files
