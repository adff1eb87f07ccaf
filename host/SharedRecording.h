#pragma once
// Where the extension leaves its recording for the containing app:
// "<container root>/<app group>/NewRecording.wav".

#include <string>

#include "platform/broadcast/NSExtension.h"

namespace host {

inline constexpr const char* kSharedAppGroup = "group.tolvix";
inline constexpr const char* kSharedRecordingName = "NewRecording.wav";

// The recording's path for the bundle's shared group (the first group it
// declares when it does not declare group.tolvix).
std::string sharedRecordingPath(const NSExtensionBundle& bundle);

}  // namespace host
