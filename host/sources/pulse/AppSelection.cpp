#include "AppSelection.h"

#include <algorithm>
#include <cctype>

namespace host {
namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool names(const std::string& name, const PlaybackFacts& playback) {
    if (name.starts_with("pid:")) return playback.pid && name.substr(4) == std::to_string(*playback.pid);
    return sameIgnoringCase(name, playback.appName) || sameIgnoringCase(name, playback.binary);
}

}  // namespace

bool appSelectionMatches(const SourceDescription& described, const PlaybackFacts& playback) {
    const bool named = std::any_of(described.apps.begin(), described.apps.end(),
                                   [&](const std::string& name) { return names(name, playback); });
    return named != described.exceptApps;
}

std::string describeAppSelection(const SourceDescription& described) {
    std::string list;
    for (const std::string& name : described.apps) list += (list.empty() ? "\"" : ", \"") + name + "\"";
    return (described.exceptApps ? "the playback of every app but " : "the playback of apps ") + list;
}

}  // namespace host
