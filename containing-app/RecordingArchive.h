#pragma once
// Keeps a copy of each recording in a directory of the user's choice under a
// name no earlier copy has: recording-YYYYMMDD-HHMMSS.wav, then -1, -2, ...
// when that name is taken. Names are claimed with O_EXCL, so two copies (or
// two running apps) never overwrite each other.

#include <ctime>
#include <string>

namespace containing_app {

struct KeepResult {
    bool kept = false;
    std::string path;   // the copy, when kept
    std::string error;  // why not
};

class RecordingArchive {
public:
    // Creates `directory` (and its parents) when missing.
    explicit RecordingArchive(std::string directory);

    // Copies the whole file open at `sourceFd` (from its start) into the
    // archive, named after `when` (local time). A partial copy is removed.
    KeepResult keep(int sourceFd, std::time_t when) const;

private:
    std::string directory_;
};

// "recording-YYYYMMDD-HHMMSS" in local time, without extension.
std::string recordingBaseName(std::time_t when);

}  // namespace containing_app
