#pragma once
// The host's command line (CLI11).

#include <optional>
#include <ostream>

#include "HostOptions.h"

namespace host {

// Parses the arguments. Returns none after writing the help or the version
// to `out` (--help, --version). Throws HostError: Usage for unknown options
// and bad values, BadSource for a source that is not one the host knows.
std::optional<HostOptions> parseCommandLine(int argc, const char* const* argv, std::ostream& out);

}  // namespace host
