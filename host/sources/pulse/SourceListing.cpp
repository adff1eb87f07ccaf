#include "SourceListing.h"

#include <iomanip>

#include "PulseClient.h"
#include "PulseLibrary.h"
#include "toolkit/RecordingJson.h"

namespace host {
namespace {

std::string formatName(const pa_sample_spec& spec) {
    const char* name = pulseLibrary().pa_sample_format_to_string(spec.format);
    return name != nullptr ? name : "unknown";
}

nlohmann::ordered_json sourceJson(const SourceFacts& source) {
    return {
        {"name", source.name},
        {"description", source.description},
        {"format", formatName(source.spec)},
        {"rate", source.spec.rate},
        {"channels", source.spec.channels},
        {"monitorOf", source.monitorOf.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(source.monitorOf)}};
}

nlohmann::ordered_json appJson(const PlaybackFacts& app) {
    return {{"name", app.appName},
            {"binary", app.binary},
            {"pid", app.pid ? nlohmann::ordered_json(*app.pid) : nlohmann::ordered_json()},
            {"sink", app.sinkName},
            {"format", formatName(app.spec)},
            {"rate", app.spec.rate},
            {"channels", app.spec.channels}};
}

// An array of entries, one to a line.
void printEntries(std::ostream& out, const char* key, const std::vector<nlohmann::ordered_json>& entries, bool last) {
    out << "  \"" << key << "\": [";
    for (size_t i = 0; i < entries.size(); ++i) out << (i == 0 ? "\n    " : ",\n    ") << toolkit::jsonText(entries[i]);
    out << (entries.empty() ? "]" : "\n  ]") << (last ? "\n" : ",\n");
}

std::string describe(const pa_sample_spec& spec) {
    return formatName(spec) + " " + std::to_string(spec.rate) + " Hz " + std::to_string(spec.channels) + " ch";
}

void printText(std::ostream& out, const ServerFacts& server, const std::vector<SourceFacts>& sources,
               const std::vector<PlaybackFacts>& apps) {
    out << "server " << server.name << ": " << server.product << " (default sink " << server.defaultSink
        << ", default source " << server.defaultSource << ")\n\nsources (record one with --app-source pulse:NAME):\n";
    for (const SourceFacts& source : sources)
        out << "  " << std::left << std::setw(28) << source.name << " " << std::setw(22) << describe(source.spec)
            << (source.monitorOf.empty() ? "capture device" : "monitor of sink " + source.monitorOf) << "  "
            << source.description << "\n";
    out << "\napps playing (record them with --app-source apps:NAME[,NAME...]):\n";
    if (apps.empty()) out << "  none\n";
    for (const PlaybackFacts& app : apps)
        out << "  " << std::left << std::setw(28) << app.appName << " program " << app.binary << ", pid "
            << (app.pid ? std::to_string(*app.pid) : "unknown") << ", on sink " << app.sinkName << ", "
            << describe(app.spec) << "\n";
}

}  // namespace

void listSources(std::ostream& out, bool json, toolkit::StopToken stop) {
    PulseClient client(stop, "to list what it can record");
    const ServerFacts server = client.serverFacts();
    const std::vector<SourceFacts> sources = client.sources();
    const std::vector<PlaybackFacts> apps = client.playbacks();
    if (!json) {
        printText(out, server, sources, apps);
        return;
    }
    std::vector<nlohmann::ordered_json> sourceEntries, appEntries;
    for (const SourceFacts& source : sources) sourceEntries.push_back(sourceJson(source));
    for (const PlaybackFacts& app : apps) appEntries.push_back(appJson(app));
    const nlohmann::ordered_json facts = {{"name", server.name},
                                          {"product", server.product},
                                          {"defaultSink", server.defaultSink},
                                          {"defaultSource", server.defaultSource}};
    out << "{\n  \"server\": " << toolkit::jsonText(facts) << ",\n";
    printEntries(out, "sources", sourceEntries, false);
    printEntries(out, "apps", appEntries, true);
    out << "}\n";
}

}  // namespace host
