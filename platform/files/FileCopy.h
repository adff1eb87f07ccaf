#pragma once
// Copies an open file's bytes into another with the cheapest means the
// filesystem offers: a clone, then copy_file_range, then read and write.

namespace platform::files {

// Copies all of `sourceFd` (from offset 0) into the empty `destinationFd`.
// The source's file offset is left where it was. Returns 0 or an errno value.
int copyFileContents(int sourceFd, int destinationFd);

}  // namespace platform::files
