// The broadcast host: reads the command line, validates everything it was
// given, then drives the extension's principal class through the scenario
// and reports what the broadcasts left in the shared container.

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "HostMain.h"

#include "HostError.h"
#include "HostFolders.h"
#include "HostWarnings.h"
#include "StopSignals.h"
#include "TemporarySpaceWarning.h"
#include "cli/CommandLine.h"
#include "progress/ProgressLine.h"
#include "scenario/HostClock.h"
#include "scenario/PreparedScenario.h"
#include "scenario/ScenarioParser.h"
#include "scenario/ScenarioRunner.h"
#include "summary/BroadcastTally.h"
#include "platform/log/NSLog.h"
#include "toolkit/SharedNames.h"

namespace host {
namespace {

// Routes the platform log and the host's warnings while the run lasts (the
// log above the progress line, or nowhere under --quiet; warnings to
// `warnings`); puts the old routes back after.
class LogRoute {
public:
    LogRoute(bool quiet, ProgressLine* progress, WarningSink warnings) {
        previousWarnings_ = setWarningSink(std::move(warnings));
        if (quiet)
            previousLog_ = platform::setLogSink([](std::string_view) {});
        else if (progress != nullptr)
            previousLog_ = platform::setLogSink(
                [progress](std::string_view message) { progress->printAbove(platform::formatLogLine(message)); });
        else
            return;
        logRouted_ = true;
    }
    ~LogRoute() {
        setWarningSink(std::move(previousWarnings_));
        if (logRouted_) platform::setLogSink(std::move(previousLog_));
    }
    LogRoute(const LogRoute&) = delete;
    LogRoute& operator=(const LogRoute&) = delete;

private:
    bool logRouted_ = false;
    platform::LogSink previousLog_;
    WarningSink previousWarnings_;
};

// A live source paces the whole broadcast in real time.
bool hasLiveSource(const PreparedScenario& prepared) {
    for (const StepSources& sources : prepared.sources)
        for (const auto* source : {sources.app.get(), sources.mic.get(), sources.single.get()})
            if (source != nullptr && source->live()) return true;
    return false;
}

int run(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::optional<HostOptions> options = parseCommandLine(argc, argv, std::cout);
    if (!options) return 0;

    // Everything the run needs is checked before the extension sees a call.
    Scenario scenario = options->scenarioFile ? loadScenarioFile(*options->scenarioFile) : scenarioFromOptions(*options);
    // The folders, given or from the environment, are made now: one below a
    // file, or a variable that names none, is refused before the broadcast.
    const ChosenFolders folders = chooseFolders(options->containerRoot, options->tempDir);
    const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "broadcast-extension";
    const std::optional<double> recordingRate = recordingBytesPerSecond(scenario);
    PreparedScenario prepared = prepareScenario(std::move(scenario), STDIN_FILENO, options->scenarioFile.value_or(""));
    if (recordingRate)
        if (const std::string room = temporarySpaceWarning(folders.temporaryParent, *recordingRate); !room.empty())
            std::cerr << program << ": warning: " << room << std::endl;

    std::optional<ProgressLine> progress;
    if (!options->quiet && ::isatty(STDERR_FILENO) == 1) progress.emplace(stderr);
    ProgressLine* progressLine = progress ? &*progress : nullptr;
    BroadcastTally tally(shared::sharedRecordingPath(folders.containerRoot), progressLine);
    const auto say = [&](const std::string& line) {
        if (progressLine != nullptr)
            progressLine->printAbove(line);
        else
            std::cerr << line << std::endl;
    };
    RunOutcome outcome;
    // Installed until the host returns: a second signal while the broadcast
    // finishes, or while the summary is made, aborts at once (128 + signal).
    StopSignals stopSignals;
    {
        LogRoute route(options->quiet, progressLine,
                       [&](std::string_view message) { say(program + ": warning: " + std::string(message)); });
        RunOptions runOptions{options->realtime || hasLiveSource(prepared), kHostClockStartNanos};
        if (!options->quiet)
            runOptions.stopping = [&] { say(program + ": stopping: finishing the broadcast (Ctrl-C again to abort)"); };
        ScenarioRunner runner(bundle.makePrincipalClass, tally, std::move(runOptions));
        try {
            outcome = runner.run(prepared);
        } catch (...) {
            if (progressLine != nullptr) progressLine->finish();
            throw;
        }
    }
    if (progressLine != nullptr) progressLine->finish();
    if (!outcome.sourceFailure.empty())
        std::cerr << program << ": warning: the broadcast ended early: " << outcome.sourceFailure << std::endl;

    if (options->json)
        printJsonSummary(tally.report(), std::cout);
    else
        printTextSummary(tally.report(), std::cout);
    std::cout.flush();
    if (!outcome.sourceFailure.empty()) return static_cast<int>(ExitCode::SourceLost);
    return static_cast<int>(tally.exitStatus());
}

}  // namespace
}  // namespace host

int host::runBroadcastHost(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "broadcast-extension";
    try {
        return run(argc, argv, bundle);
    } catch (const HostError& error) {
        std::cerr << program << ": error: " << error.what() << "\n";
        return static_cast<int>(error.code());
    } catch (const std::exception& error) {
        std::cerr << program << ": internal error: " << error.what() << "\n";
        return static_cast<int>(ExitCode::Internal);
    }
}
