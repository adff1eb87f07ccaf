#pragma once
// Looks at the shared recording after a broadcast: whether a new file is
// there, and what it holds (format, length, peak and RMS level), read back
// through the platform's WAVE reader.

#include <cstdint>
#include <optional>
#include <string>

#include "toolkit/RecordingJson.h"

namespace host {

// Enough of a file's identity to tell that it was replaced or rewritten.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNanos = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// None when nothing is at `path` (a link is not followed).
std::optional<FileIdentity> identifyFile(const std::string& path);

// The recording at `path` as the programs' shared JSON shape describes it:
// whether it is complete and, when it is, its format, length and levels
// (peak and RMS in dBFS, none for digital silence).
toolkit::RecordingSummary inspectRecording(const std::string& path);

}  // namespace host
