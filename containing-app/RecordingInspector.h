#pragma once
// Looks at the recording the extension left in the shared container: is it
// there, is it a complete WAVE file, and what does it hold.

#include <cstdint>
#include <string>

namespace containing_app {

struct RecordingReport {
    enum class Status {
        Missing,     // no file at the path
        Invalid,     // not a regular file, not a WAVE file, or unreadable
        Incomplete,  // a WAVE file whose sizes disagree with its length
        Complete,
    };
    Status status = Status::Missing;
    std::string path;
    std::string problem;  // why it is not complete
    std::string container;  // "RIFF" or "RF64"
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;
    uint64_t frames = 0;
    double durationSeconds = 0;
    uint64_t fileBytes = 0;
};

const char* statusName(RecordingReport::Status status);

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
