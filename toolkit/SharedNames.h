#pragma once
// The names by which the host and the containing app find what the extension
// leaves for the app. The signal names are the system's own, taken from its
// header; the group and the file name are fixed inside the recorder, which
// exposes them to nobody, so they are spelled here once for both programs.

#include <string>
#include <string_view>

#include "signals/BroadcastSignals.h"

namespace shared {

inline constexpr std::string_view kAppGroup = "group.tolvix";
inline constexpr std::string_view kRecordingName = "NewRecording.wav";
inline constexpr std::string_view kStartSignal = kBroadcastStartSignal->text;
inline constexpr std::string_view kEndSignal = kBroadcastEndSignal->text;

// "<container root>/group.tolvix/NewRecording.wav".
inline std::string sharedRecordingPath(std::string_view containerRoot) {
    std::string path(containerRoot);
    path.append("/").append(kAppGroup).append("/").append(kRecordingName);
    return path;
}

}  // namespace shared
