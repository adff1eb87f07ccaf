#include "AppOptions.h"

#include <CLI/CLI.hpp>

namespace containing_app {

std::variant<AppOptions, int> parseOptions(int argc, char** argv) {
    CLI::App app{
        "Stands in for the app that receives broadcast recordings: prints each\n"
        "com.sorvane.recordBroadcastStart/End signal from the session bus and, on\n"
        "every end signal, inspects NewRecording.wav in the group.tolvix container."};
    app.footer(
        "Exit status: 0 done (--count reached or SIGINT/SIGTERM), 1 lost the session bus,\n"
        "2 bad command line, 3 --timeout passed with no signal, 4 no session bus,\n"
        "5 done but a recording could not be kept.");
    AppOptions options;
    std::string containerRoot;
    std::string keep;
    unsigned count = 0;
    double timeout = 0;
    auto* rootOption = app.add_option("--container-root", containerRoot,
                                      "Directory holding the app-group containers (default: $APP_GROUP_CONTAINER_ROOT, "
                                      "else $XDG_DATA_HOME/app-groups, else ~/.local/share/app-groups)");
    auto* keepOption = app.add_option("--keep", keep,
                                      "Keep a copy of each complete recording in DIR as "
                                      "recording-YYYYMMDD-HHMMSS[-N].wav")
                           ->type_name("DIR");
    auto* countOption = app.add_option("--count", count, "Exit after N end signals")
                            ->type_name("N")
                            ->check(CLI::Range(1u, 1000000000u));
    auto* timeoutOption = app.add_option("--timeout", timeout, "Exit with status 3 when no signal arrives for SECONDS")
                              ->type_name("SECONDS")
                              ->check(CLI::Validator(
                                  [](std::string& text) -> std::string {
                                      double value = 0;
                                      if (!CLI::detail::lexical_cast(text, value) || !(value > 0) || value > 1e9)
                                          return "must be a number of seconds above 0";
                                      return {};
                                  },
                                  "POSITIVE"));
    app.add_flag("--json", options.json, "Print one JSON object per signal instead of text");
    app.set_version_flag("--version", "containing-app " RECORDER_VERSION, "Print the version and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitOk : kExitUsage;
    }
    if (rootOption->count() > 0) {
        if (containerRoot.empty()) {
            std::cerr << "--container-root: must not be empty\n";
            return kExitUsage;
        }
        options.containerRoot = containerRoot;
    }
    if (keepOption->count() > 0) {
        if (keep.empty()) {
            std::cerr << "--keep: must not be empty\n";
            return kExitUsage;
        }
        options.keepDirectory = keep;
    }
    if (countOption->count() > 0) options.endSignalCount = count;
    if (timeoutOption->count() > 0) options.idleTimeoutSeconds = timeout;
    return options;
}

}  // namespace containing_app
