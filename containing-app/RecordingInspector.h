#pragma once
// Looks at the recording the extension left in the shared container: is it
// there, is it a complete WAVE file, and what does it hold.

#include <string>

#include "toolkit/RecordingJson.h"

namespace containing_app {

// What the app found, in the JSON shape the host's summary shares: "path"
// is left empty when no file is there.
using RecordingReport = toolkit::RecordingSummary;

// An open recording: the descriptor stays open so a copy is taken from the
// very file that was inspected, even if the path is replaced meanwhile.
class OpenRecording {
public:
    // Opens `path` read-only without following a symbolic link and inspects it.
    explicit OpenRecording(const std::string& path);
    ~OpenRecording();
    OpenRecording(const OpenRecording&) = delete;
    OpenRecording& operator=(const OpenRecording&) = delete;

    const RecordingReport& report() const { return report_; }
    // The descriptor of the inspected file, or -1 when there is none.
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    RecordingReport report_;
};

}  // namespace containing_app
