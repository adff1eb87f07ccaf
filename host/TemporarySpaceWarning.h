#pragma once
// Before a broadcast: whether the temporary directory can hold the recording
// for long. Where it lives in memory (a tmpfs) the recording grows in RAM;
// where its filesystem has room for less than an hour, a longer broadcast is
// cut short. Either way the broadcast goes on, after one warning.

#include <optional>
#include <string>

#include "scenario/Scenario.h"

namespace host {

// Bytes a second the recording of the scenario's first app stream grows by:
// the whole rate times channels times bytes per sample, as the recording's
// settings come from the delivered stream. None without an app stream, or
// for one that makes no recording (64-bit samples).
std::optional<double> recordingBytesPerSecond(const Scenario& scenario);

// The warning for a recording growing by `bytesPerSecond` in `folder`, or
// empty when it has room for an hour on disk.
std::string temporarySpaceWarning(const std::string& folder, double bytesPerSecond);

}  // namespace host
