#include "AppOptions.h"

#include <CLI/CLI.hpp>

#include <iostream>

#include "toolkit/CommandLineStyle.h"

namespace containing_app {
namespace {

toolkit::HelpPage helpPage() {
    return {
        "Waits for the extension's signals and checks each recording it hands over.",
        {
            {"containing-app", "Prints each start and end signal and what the recording holds, until Ctrl-C."},
            {"containing-app --keep ~/recordings --json",
             "Keeps a copy of every new complete recording; one JSON object per signal."},
            {"containing-app --count 1 --timeout 60",
             "Waits for one broadcast to end, for at most a minute between signals."},
        },
        {
            {std::to_string(kExitOk), "done (--count reached, or SIGINT/SIGTERM)"},
            {std::to_string(kExitFailure), "lost the session bus"},
            {std::to_string(kExitUsage), "bad command line"},
            {std::to_string(kExitIdleTimeout), "--timeout passed with no signal"},
            {std::to_string(kExitNoSessionBus), "no session bus"},
            {std::to_string(kExitKeepFailed), "done, but a recording could not be kept"},
            {std::to_string(kExitOutputUnwritable), "standard output could not be written"},
            {"128+N",
             "a second SIGINT or SIGTERM while finishing: 128 plus the signal's number (130 "
             "for SIGINT, 143 for SIGTERM)"},
        },
    };
}

int usageError(const std::string& message) {
    std::cerr << "containing-app: error: " << message << "\n";
    return kExitUsage;
}

}  // namespace

std::variant<AppOptions, int> parseOptions(int argc, char** argv) {
    CLI::App app{"", "containing-app"};
    toolkit::useHouseStyle(app, helpPage());
    AppOptions options;
    std::string containerRoot;
    std::string keep;
    unsigned count = 0;
    double timeout = 0;
    auto* countOption = app.add_option("--count", count, "Exit after N end signals (default: never)")
                            ->type_name("N")
                            ->transform(toolkit::numberWithin(1, 1e9, "", false, true))
                            ->group("Signals");
    auto* timeoutOption =
        app.add_option("--timeout", timeout, "Exit with status 3 when no signal arrives for SECONDS (default: wait)")
            ->type_name("SECONDS")
            ->transform(toolkit::numberWithin(0, 1e9, "seconds", true))
            ->group("Signals");
    auto* rootOption = app.add_option("--container-root", containerRoot,
                                      "Directory holding the app-group containers (default: "
                                      "$APP_GROUP_CONTAINER_ROOT, else $XDG_DATA_HOME/app-groups, else "
                                      "~/.local/share/app-groups)")
                           ->type_name("DIR")
                           ->group("Folders");
    auto* keepOption = app.add_option("--keep", keep,
                                      "Keep a copy of each new complete recording in DIR as "
                                      "recording-YYYYMMDD-HHMMSS[-N].wav; a recording an end signal finds "
                                      "unchanged since it was kept is not kept again (default: keep none)")
                           ->type_name("DIR")
                           ->group("Folders");
    app.add_flag("--json", options.json, "Print one JSON object per signal (default: a line of text)")->group("Output");
    app.set_version_flag("--version", "containing-app " RECORDER_VERSION, "Print the version and exit")
        ->group("Output");
    app.get_help_ptr()->group("Output");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        return usageError(toolkit::describeParseError(app, error));
    }
    if (rootOption->count() > 0) {
        if (containerRoot.empty()) return usageError("--container-root: must not be empty");
        options.containerRoot = containerRoot;
    }
    if (keepOption->count() > 0) {
        if (keep.empty()) return usageError("--keep: must not be empty");
        options.keepDirectory = keep;
    }
    if (countOption->count() > 0) options.endSignalCount = count;
    if (timeoutOption->count() > 0) options.idleTimeoutSeconds = timeout;
    return options;
}

}  // namespace containing_app
