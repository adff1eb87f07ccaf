#pragma once
// A scenario with every source opened, so that a missing file or a bad
// source stops the host before its first call on the extension. Within one
// broadcast a stream role (app, mic) that names the same source again
// continues it; each new `begin` opens the sources afresh.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Scenario.h"
#include "host/sources/AudioSource.h"

namespace host {

struct StepSources {
    std::shared_ptr<AudioSource> app;
    std::shared_ptr<AudioSource> mic;
    std::shared_ptr<AudioSource> single;  // a `buffer` step's content
};

struct PreparedScenario {
    Scenario scenario;
    std::vector<StepSources> sources;  // one per step
};

// Where the sources are opened (see SourceContext).
struct PrepareOptions {
    int stdinFd = 0;
    std::string scenarioName;  // a scenario file's name, for messages
    toolkit::StopToken stop{};
    std::optional<double> followIdleSeconds;  // --follow: the app source ends a session after this long without sound
};

// Throws HostError: BadSource when a source cannot be opened or standard
// input would feed more than one stream role; with a `scenarioName` the
// message names it and the step, as "NAME: step 3 (stream) app: ...".
PreparedScenario prepareScenario(Scenario scenario, const PrepareOptions& options = {});

}  // namespace host
