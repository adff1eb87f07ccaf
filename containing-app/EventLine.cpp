#include "EventLine.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace containing_app {

namespace {

using Status = RecordingReport::Status;

std::string describeRecording(const RecordingReport& r) {
    char text[160];
    switch (r.status) {
        case Status::Missing: return r.error;
        case Status::Invalid: return "unusable file at " + r.path + ": " + r.error;
        case Status::Incomplete: return "incomplete recording at " + r.path + ": " + r.error;
        case Status::Complete:
            std::snprintf(text, sizeof text, "%u Hz, %u ch, %u-bit, %llu frames, %.3f s (%s)", r.sampleRate, r.channels,
                          r.bitsPerSample, static_cast<unsigned long long>(r.frames), r.durationSeconds,
                          r.container.c_str());
            return "recording " + r.path + ": " + text;
    }
    return {};
}

}  // namespace

std::string formatTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // +hhmm
    const std::string z = zone;
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03lld%s:%s", date, static_cast<long long>(millis < 0 ? millis + 1000 : millis),
                  z.substr(0, 3).c_str(), z.substr(3).c_str());
    return out;
}

std::string textLine(const Event& event) {
    std::string line = formatTime(event.time) + " " + event.kind + " " + event.notification.name;
    for (const auto& [key, value] : event.notification.payload) line += " " + key + "=" + value;
    if (event.recording) line += " | " + describeRecording(*event.recording);
    if (event.keep)
        line += event.keep->kept          ? " | kept as " + event.keep->path
                : event.keep->alreadyKept ? " | already kept as " + event.keep->path
                                          : " | not kept: " + event.keep->error;
    return line;
}

std::string jsonLine(const Event& event) {
    nlohmann::ordered_json j;
    j["time"] = formatTime(event.time);
    j["event"] = event.kind;
    j["name"] = event.notification.name;
    auto payload = nlohmann::ordered_json::object();
    for (const auto& [key, value] : event.notification.payload) payload[key] = value;
    j["payload"] = payload;
    if (event.recording) j["recording"] = toolkit::recordingJson(*event.recording);
    if (event.keep) {
        if (event.keep->kept)
            j["keptAs"] = event.keep->path;
        else if (event.keep->alreadyKept)
            j["alreadyKeptAs"] = event.keep->path;
        else
            j["keepError"] = event.keep->error;
    }
    return toolkit::jsonText(j);
}

}  // namespace containing_app
