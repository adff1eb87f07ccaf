// The broadcast host: reads the command line, validates everything it was
// given, then drives the extension's principal class through the scenario
// and reports what the broadcasts left in the shared container.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "HostMain.h"

#include "HostError.h"
#include "HostWarnings.h"
#include "StopSignals.h"
#include "cli/CommandLine.h"
#include "progress/ProgressLine.h"
#include "scenario/HostClock.h"
#include "scenario/PreparedScenario.h"
#include "scenario/ScenarioParser.h"
#include "scenario/ScenarioRunner.h"
#include "summary/BroadcastTally.h"
#include "platform/files/NSFileManager.h"
#include "platform/log/NSLog.h"
#include "toolkit/SharedNames.h"

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

// `path` as an absolute path to a directory; with `create`, made (0700) when
// missing. Anything else is refused before the broadcast, naming `what`.
std::string absoluteDirectory(const std::string& path, bool create, const std::string& what) {
    const auto unusable = [&](const std::string& why) {
        return HostError(ExitCode::ContainerUnusable, what + " \"" + path + "\" " + why);
    };
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) throw unusable("cannot be used: " + error.message());
    if (!std::filesystem::exists(absolute, error)) {
        if (!create) throw unusable("does not exist");
        std::filesystem::create_directories(absolute, error);
        if (!error)
            std::filesystem::permissions(absolute, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
        if (error) throw unusable("cannot be created: " + error.message());
    }
    if (!std::filesystem::is_directory(absolute, error)) throw unusable("is not a directory");
    return absolute.lexically_normal().string();
}

// The temporary directory's parent: --temp-dir, else TMPDIR, else /tmp. A
// TMPDIR that is relative or names no directory is refused rather than
// replaced by /tmp or made up.
void chooseTemporaryParent(const std::string& option) {
    if (!option.empty()) {
        platform::setTemporaryDirectoryParent(absoluteDirectory(option, false, "--temp-dir"));
        return;
    }
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir == nullptr || *tmpdir == '\0') return;
    if (*tmpdir != '/')
        throw HostError(ExitCode::ContainerUnusable,
                        "TMPDIR \"" + std::string(tmpdir) +
                            "\" is not an absolute path (unset it to use /tmp, or give --temp-dir)");
    (void)absoluteDirectory(tmpdir, false, "TMPDIR");
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

int run(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::optional<HostOptions> options = parseCommandLine(argc, argv, std::cout);
    if (!options) return 0;

    // Everything the run needs is checked before the extension sees a call.
    Scenario scenario = options->scenarioFile ? loadScenarioFile(*options->scenarioFile) : scenarioFromOptions(*options);
    // The container root, given or from the environment, is made now: one
    // below a file is refused before the broadcast, not found after it.
    platform::setAppGroupContainerRoot(options->containerRoot.empty()
                                           ? absoluteDirectory(platform::appGroupContainerRoot(), true,
                                                               "the app-group container root")
                                           : absoluteDirectory(options->containerRoot, true, "--container-root"));
    chooseTemporaryParent(options->tempDir);
    PreparedScenario prepared = prepareScenario(std::move(scenario), STDIN_FILENO, options->scenarioFile.value_or(""));

    std::optional<ProgressLine> progress;
    if (!options->quiet && ::isatty(STDERR_FILENO) == 1) progress.emplace(stderr);
    ProgressLine* progressLine = progress ? &*progress : nullptr;
    BroadcastTally tally(shared::sharedRecordingPath(platform::appGroupContainerRoot()), progressLine);
    const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "broadcast-extension";
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
    return static_cast<int>(tally.everyEndedBroadcastRecorded() ? ExitCode::Ok : ExitCode::NoRecording);
}

}  // namespace
}  // namespace host

int host::finishBroadcastHost(int argc, char** argv, int status, const platform::UndeliveredPosts& undelivered) {
    if (undelivered.names.empty()) return status;
    std::cerr << programName(argc, argv) << ": error: " << describeSignals(undelivered.names)
              << " could not be delivered: " << undelivered.reason << std::endl;
    // Outranks only success and an unwritable standard output (10).
    constexpr int kStandardOutputUnwritable = 10;
    if (status == static_cast<int>(ExitCode::Ok) || status == kStandardOutputUnwritable)
        return static_cast<int>(ExitCode::SignalsNotDelivered);
    return status;
}

int host::runBroadcastHost(int argc, char** argv, const NSExtensionBundle& bundle) {
    const std::string program = programName(argc, argv);
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
