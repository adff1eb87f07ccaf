#pragma once
// One output line per signal received: readable text, or a JSON object
// (one per line) for scripts.

#include <chrono>
#include <optional>
#include <string>

#include "RecordingArchive.h"
#include "platform/notify/Notification.h"
#include "toolkit/RecordingJson.h"

namespace containing_app {

// What the app found at the shared recording's path, in the JSON shape the
// host's summary shares: "path" is left empty when no file is there.
using RecordingReport = toolkit::RecordingSummary;

struct Event {
    std::chrono::system_clock::time_point time;
    platform::Notification notification;
    std::string kind;                          // "start" or "end"
    std::optional<RecordingReport> recording;  // end signals only
    std::optional<KeepResult> keep;            // when --keep was given and a recording was complete
};

// Local time with milliseconds and offset, e.g. 2024-05-01T12:00:00.123+02:00.
std::string formatTime(std::chrono::system_clock::time_point time);

std::string textLine(const Event& event);
std::string jsonLine(const Event& event);

}  // namespace containing_app
