#pragma once
// --list-sources: what the sound server can record right now: the server,
// its sources (with the sink each monitors) and the apps playing, as text
// or as one JSON document whose entries stand one to a line (for shell
// completion).

#include <ostream>

#include "toolkit/StopSignals.h"

namespace host {

// Throws HostError (BadSource) when there is no server or it does not answer.
void listSources(std::ostream& out, bool json, toolkit::StopToken stop);

}  // namespace host
