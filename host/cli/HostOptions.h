#pragma once
// What the command line asks of the host.

#include <optional>
#include <string>

#include "host/scenario/Scenario.h"

namespace host {

struct HostOptions {
    std::optional<std::string> scenarioFile;
    std::optional<AudioStreamPlan> app = defaultAppStream();  // none when --app-source none
    std::optional<AudioStreamPlan> mic = defaultMicStream();
    double videoRate = 30;           // 0: no video
    std::optional<double> duration;  // default: the app file's length, else 10 s (none with --live)
    std::optional<double> pauseAt;
    std::optional<double> resumeAt;
    bool finishWithError = false;
    std::optional<std::string> containerRoot;  // none: from the environment
    std::optional<std::string> tempDir;        // none: $TMPDIR, else the user's cache folder
    bool realtime = false;
    bool live = false;         // --live: no default duration (until stopped)
    bool follow = false;       // a broadcast each time the chosen apps play
    double idleSeconds = 5;    // --follow: silence that ends a broadcast
    bool listSources = false;  // list what the sound server can record, and exit
    bool json = false;
    bool quiet = false;
};

inline constexpr double kDefaultDurationSeconds = 10;

// The single broadcast the options describe (without --scenario): begin,
// start with setup information, streams (split around a pause), finish or
// finish with an error.
Scenario scenarioFromOptions(const HostOptions& options);

}  // namespace host
