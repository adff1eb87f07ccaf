#pragma once
// One JSON shape for the shared recording, written by the host's summary and
// by the containing app's event lines alike:
//   {"status": "complete", "path": "...", "container": "RIFF", "sampleRate": 44100,
//    "channels": 2, "bitsPerSample": 16, "frames": 441000, "durationSeconds": 10.0,
//    "fileBytes": 1764080, "peakDbfs": -6.02, "rmsDbfs": -9.5, "fullScaleSamples": 0}
// "path" is there only when a file was found; "error" (a message) only when
// the recording is not complete; the format keys only when the file is whole
// and readable (complete, or incomplete because the recording was cut short);
// the level keys only from a program that measured them. Sample rates are in hertz,
// durations in seconds, levels in dB relative to full scale (null for
// digital silence).

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace media::wave {
class WaveFileReader;
}

namespace toolkit {

struct RecordingLevels {
    std::optional<double> peakDbfs;  // none for digital silence
    std::optional<double> rmsDbfs;
    uint64_t fullScaleSamples = 0;  // samples at the largest code (likely clipped)
    friend bool operator==(const RecordingLevels&, const RecordingLevels&) = default;
};

struct RecordingSummary {
    enum class Status {
        Missing,     // nothing was handed over
        Invalid,     // not a regular file, not a WAVE file, or unreadable
        Incomplete,  // a WAVE file whose sizes disagree with its length
        Complete,
    };
    Status status = Status::Missing;
    // Incomplete because the writer stopped early (a full disk): the file is
    // whole up to there, so its format is given too.
    bool cutShort = false;
    std::string path;       // where the file is; empty when there is none
    std::string error;      // why it is not complete
    std::string container;  // "RIFF" or "RF64"
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;
    uint64_t frames = 0;
    double durationSeconds = 0;
    uint64_t fileBytes = 0;
    std::optional<RecordingLevels> levels;
    friend bool operator==(const RecordingSummary&, const RecordingSummary&) = default;
};

const char* statusName(RecordingSummary::Status status);

// What `file`, opened from `path`, is and holds, in this shape (no levels).
RecordingSummary recordingFromFile(const media::wave::WaveFileReader& file, const std::string& path);

nlohmann::ordered_json recordingJson(const RecordingSummary& recording);

// Reads what recordingJson wrote, as the tests read both programs' output;
// throws nlohmann::json::exception for a missing or mistyped key and
// std::invalid_argument for an unknown key or status, or keys that do not fit
// the status (a "path" for a missing recording, an "error" for a complete one).
RecordingSummary recordingFromJson(const nlohmann::json& json);

// The text of `json`: on one line, or indented by `indent`. Bytes that are
// not UTF-8 (a path may hold any) become U+FFFD instead of failing.
std::string jsonText(const nlohmann::ordered_json& json, int indent = -1);

}  // namespace toolkit
