// The broadcast host: reads the command line, validates everything it was
// given, then drives the extension's principal class through the scenario
// and reports what the broadcasts left in the shared container.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "HostMain.h"

#include "HostError.h"
#include "HostFolders.h"
#include "HostWarnings.h"
#include "TemporarySpaceWarning.h"
#include "cli/CommandLine.h"
#include "platform/log/NSLog.h"
#include "progress/ProgressLine.h"
#include "scenario/HostClock.h"
#include "scenario/PreparedScenario.h"
#include "scenario/ScenarioParser.h"
#include "scenario/ScenarioRunner.h"
#include "sources/pulse/SourceListing.h"
#include "summary/BroadcastTally.h"
#include "toolkit/CommandLineStyle.h"
#include "toolkit/SharedNames.h"
#include "toolkit/StopSignals.h"

namespace host {
namespace {

std::string programName(int argc, char** argv) {
    return argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "broadcast-extension";
}

// "2 signals (com.sorvane.recordBroadcastStart, com.sorvane.recordBroadcastEnd)": the count, then each name once.
std::string describeSignals(const std::vector<std::string>& names) {
    std::vector<std::string> distinct;
    for (const std::string& name : names)
        if (std::find(distinct.begin(), distinct.end(), name) == distinct.end()) distinct.push_back(name);
    std::string text = std::to_string(names.size()) + (names.size() == 1 ? " signal (" : " signals (");
    for (size_t i = 0; i < distinct.size(); ++i) text += (i == 0 ? "" : ", ") + distinct[i];
    return text + ")";
}

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

// --follow: a broadcast each time the chosen apps play, until a stop request
// (which finishes a broadcast under way) or a failure of the sound server.
RunOutcome runSessions(ScenarioRunner& runner, PreparedScenario& prepared) {
    AudioSource* apps = nullptr;
    for (const StepSources& sources : prepared.sources)
        if (sources.app) apps = sources.app.get();
    while (apps != nullptr && apps->waitForSound()) {
        RunOutcome outcome = runner.run(prepared);
        if (outcome.stopped || !outcome.sourceFailure.empty()) return outcome;
    }
    const std::string failure(apps != nullptr ? apps->failure() : "");
    return {failure.empty(), failure};
}

struct PreparedRun {
    ChosenFolders folders;
    PreparedScenario scenario;
};

// Everything the run needs, checked before the extension sees a call.
PreparedRun prepareRun(const HostOptions& options, const std::string& program, toolkit::StopToken stop) {
    Scenario scenario = options.scenarioFile ? loadScenarioFile(*options.scenarioFile) : scenarioFromOptions(options);
    if (startsABroadcastWithFloat64AppAudio(scenario))
        std::cerr << program
                  << ": warning: 64-bit float app audio makes no recording: the recording keeps the "
                     "delivered depth as integers, and there are no 64-bit integer WAVE files"
                  << std::endl;
    // The folders, given or from the environment, are made now: one below a
    // file, or a variable that names none, is refused before the broadcast.
    ChosenFolders folders = chooseFolders(options.containerRoot, options.tempDir);
    const std::optional<double> recordingRate = recordingBytesPerSecond(scenario);
    PreparedRun run{
        std::move(folders),
        prepareScenario(std::move(scenario), {STDIN_FILENO, options.scenarioFile.value_or(""), stop,
                                              options.follow ? std::optional(options.idleSeconds) : std::nullopt})};
    if (recordingRate)
        if (const std::string room = temporarySpaceWarning(run.folders.temporaryParent, *recordingRate); !room.empty())
            std::cerr << program << ": warning: " << room << std::endl;
    return run;
}

int run(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::optional<HostOptions> options = parseCommandLine(argc, argv, std::cout);
    if (!options) return 0;
    // Made before anything starts a thread. Until the host returns, a stop
    // request finishes the broadcast under way, and a second signal while it
    // finishes, or while the summary is made, aborts at once (128 + signal).
    const toolkit::StopSignals stopSignals;
    if (options->listSources) {
        listSources(std::cout, options->json, stopSignals.token());  // flushed and checked on the way out
        return 0;
    }

    const std::string program = programName(argc, argv);
    PreparedRun prepared = prepareRun(*options, program, stopSignals.token());

    std::optional<ProgressLine> progress;
    if (!options->quiet && ::isatty(STDERR_FILENO) == 1) progress.emplace(stderr);
    ProgressLine* progressLine = progress ? &*progress : nullptr;
    BroadcastTally tally(shared::sharedRecordingPath(prepared.folders.containerRoot), progressLine);
    const auto say = [&](const std::string& line) {
        if (progressLine != nullptr)
            progressLine->printAbove(line);
        else
            std::cerr << line << std::endl;
    };
    RunOutcome outcome;
    {
        LogRoute route(options->quiet, progressLine,
                       [&](std::string_view message) { say(program + ": warning: " + std::string(message)); });
        RunOptions runOptions{options->realtime || hasLiveSource(prepared.scenario), kHostClockStartNanos,
                              stopSignals.token()};
        if (!options->quiet)
            runOptions.stopping = [&] { say(program + ": stopping: finishing the broadcast (Ctrl-C again to abort)"); };
        ScenarioRunner runner(bundle.makePrincipalClass, tally, std::move(runOptions));
        try {
            outcome = options->follow ? runSessions(runner, prepared.scenario) : runner.run(prepared.scenario);
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
    if (!outcome.sourceFailure.empty()) return static_cast<int>(ExitCode::SourceLost);
    return static_cast<int>(tally.exitStatus());
}

}  // namespace
}  // namespace host

int host::finishBroadcastHost(int argc, char** argv, int status, const platform::UndeliveredPosts& undelivered) {
    if (undelivered.names.empty()) return status;
    std::cerr << programName(argc, argv) << ": error: " << describeSignals(undelivered.names)
              << " could not be delivered: " << undelivered.reason << std::endl;
    // Outranks only success and an unwritable standard output.
    if (status == static_cast<int>(ExitCode::Ok) || status == static_cast<int>(ExitCode::OutputUnwritable))
        return static_cast<int>(ExitCode::SignalsNotDelivered);
    return status;
}

int host::runBroadcastHost(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::string program = programName(argc, argv);
    int status = 0;
    try {
        status = run(argc, argv, bundle);
    } catch (const HostError& error) {
        std::cerr << program << ": error: " << error.what() << "\n";
        status = static_cast<int>(error.code());
    } catch (const std::exception& error) {
        std::cerr << program << ": internal error: " << error.what() << "\n";
        status = static_cast<int>(ExitCode::Internal);
    }
    // Output that did not reach its reader is a failure, though the least
    // of those that ended a broadcast: any other status stands.
    if (const std::optional<std::string> failure = toolkit::standardOutputFailure()) {
        std::cerr << program << ": error: cannot write to standard output: " << *failure << "\n";
        if (status == 0) status = static_cast<int>(ExitCode::OutputUnwritable);
    }
    return status;
}
