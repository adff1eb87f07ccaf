#pragma once
// The host's exit statuses and the error that carries one up to the entry.

#include <stdexcept>
#include <string>

namespace host {

enum class ExitCode : int {
    Ok = 0,
    Internal = 1,             // an unexpected failure inside the host
    Usage = 2,                // unknown option, bad option value, bad encoding
    BadSource = 3,            // missing or unreadable sound file, bad source, stdin failure
    BadScenario = 4,          // malformed scenario file, unknown step or field
    NoRecording = 5,          // a broadcast ended without producing the shared recording
    ContainerUnusable = 6,    // the container root or the temporary directory cannot be created or used
    SourceLost = 7,           // a live source failed mid-broadcast; it was finished with what was recorded
    CutShort = 8,             // a recording was handed over but cut short (full disk, file-size limit)
    SignalsNotDelivered = 9,  // a start or end signal never reached the session bus before the end
    OutputUnwritable = 10,    // standard output could not be written (a full disk, a closed descriptor)
};

class HostError : public std::runtime_error {
public:
    HostError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
    ExitCode code() const { return code_; }

private:
    ExitCode code_;
};

// A failure of a sound source (file, standard input).
inline HostError sourceError(const std::string& message) { return {ExitCode::BadSource, message}; }

}  // namespace host
