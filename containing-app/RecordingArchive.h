#pragma once
// Keeps a copy of each recording in a directory of the user's choice under a
// name no earlier copy has: recording-YYYYMMDD-HHMMSS.wav, then -1, -2, ...
// when that name is taken. Names are claimed with O_EXCL, so two copies (or
// two running apps) never overwrite each other. The same recording is kept
// once, however many end signals find it.

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>

namespace containing_app {

struct KeepResult {
    bool kept = false;
    bool alreadyKept = false;  // not copied: the same recording as the copy at `path`
    std::string path;          // the copy, when kept or already kept
    std::string error;         // why it could not be kept
};

class RecordingArchive {
public:
    // Creates `directory` (and its parents) when missing.
    explicit RecordingArchive(std::string directory);

    // Copies the whole file open at `sourceFd` (from its start) into the
    // archive, named after `when` (local time). A partial copy is removed.
    KeepResult keep(int sourceFd, std::time_t when) const;

    // As keep, unless the file open at `sourceFd` is the one this archive
    // kept last, unchanged (the same device, inode, size and modification
    // time): then nothing is copied and the result names that copy.
    KeepResult keepIfNew(int sourceFd, std::time_t when);

private:
    struct Identity {
        dev_t device;
        ino_t inode;
        off_t size;
        timespec modified;
    };
    std::string directory_;
    std::optional<Identity> lastKept_;
    std::string lastKeptPath_;
};

// "recording-YYYYMMDD-HHMMSS" in local time, without extension.
std::string recordingBaseName(std::time_t when);

}  // namespace containing_app
