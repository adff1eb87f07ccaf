#pragma once
// The containing app's command line.

#include <optional>
#include <string>
#include <variant>

namespace containing_app {

// Exit statuses of containing-app.
enum ExitStatus : int {
    kExitOk = 0,                // --count end signals handled, or stopped by SIGINT/SIGTERM
    kExitFailure = 1,           // lost the session bus or another runtime failure
    kExitUsage = 2,             // bad command line
    kExitIdleTimeout = 3,       // --timeout passed without a signal
    kExitNoSessionBus = 4,      // no session bus to register on
    kExitKeepFailed = 5,        // finished, but a recording could not be kept (--keep)
    kExitOutputUnwritable = 6,  // standard output could not be written
};

struct AppOptions {
    std::optional<std::string> containerRoot;  // overrides the app-group container root
    std::optional<std::string> keepDirectory;
    std::optional<unsigned> endSignalCount;
    std::optional<double> idleTimeoutSeconds;
    bool json = false;
};

// The options, or the status to exit with (0 after --help) once the help or
// the error has been printed.
std::variant<AppOptions, int> parseOptions(int argc, char** argv);

}  // namespace containing_app
