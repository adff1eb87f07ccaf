#pragma once
// Which apps' playback an apps: source records: an app is named by its
// application name or its program (binary), without regard to case, or by
// its process id as pid:N; apps-except: records every app but those.

#include <string>

#include "PulseClient.h"
#include "host/sources/SourceDescription.h"

namespace host {

bool appSelectionMatches(const SourceDescription& described, const PlaybackFacts& playback);

// The selection in words, for messages: "the playback of apps \"a\", \"b\"".
std::string describeAppSelection(const SourceDescription& described);

}  // namespace host
