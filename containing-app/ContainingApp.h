#pragma once
// The containing app's event loop: waits for the extension's start and end
// signals on the session bus, prints each, and inspects (and optionally
// keeps) the shared recording on every end signal.

#include <iosfwd>
#include <string>

#include "AppOptions.h"

namespace containing_app {

// Runs until --count end signals, --timeout, SIGINT/SIGTERM or a failure;
// event lines go to `out`, diagnostics to `err`. Returns the exit status.
int runContainingApp(const AppOptions& options, std::ostream& out, std::ostream& err);

}  // namespace containing_app
