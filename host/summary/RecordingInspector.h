#pragma once
// Looks at the shared recording after a broadcast: whether a new file is
// there, and what it holds (format, length, peak and RMS level), read back
// with libsndfile.

#include <cstdint>
#include <optional>
#include <string>

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

struct RecordingFacts {
    std::string path;
    std::string container;   // "WAV", "RF64", ...
    std::string encoding;    // "16-bit integer", "32-bit float", ...
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    int64_t frames = 0;
    double seconds = 0;
    double peakDbfs = 0;     // -infinity for digital silence or no samples
    double rmsDbfs = 0;
    uint64_t fullScaleSamples = 0;  // samples at the largest code (likely clipped)
};

// Throws std::runtime_error with libsndfile's reason when the file cannot
// be read as sound.
RecordingFacts inspectRecording(const std::string& path);

}  // namespace host
