#include "RecordingJson.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "platform/media/wave/WaveFileReader.h"

namespace toolkit {
namespace {

using Status = RecordingSummary::Status;

constexpr std::array<std::pair<Status, const char*>, 4> kStatusNames{{
    {Status::Missing, "missing"},
    {Status::Invalid, "invalid"},
    {Status::Incomplete, "incomplete"},
    {Status::Complete, "complete"},
}};

nlohmann::ordered_json decibels(const std::optional<double>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

std::optional<double> decibelsFrom(const nlohmann::json& value) {
    return value.is_null() ? std::nullopt : std::optional<double>(value.get<double>());
}

}  // namespace

const char* statusName(Status status) {
    for (const auto& [known, name] : kStatusNames)
        if (known == status) return name;
    return "invalid";
}

RecordingSummary recordingFromFile(const media::wave::WaveFileReader& file, const std::string& path) {
    using media::wave::WaveStatus;
    RecordingSummary r;
    switch (file.status()) {
        case WaveStatus::Missing:
            r.status = Status::Missing;
            r.error = "no recording at " + path;
            return r;
        case WaveStatus::Unreadable:
        case WaveStatus::NotWave: r.status = Status::Invalid; break;
        case WaveStatus::Incomplete: r.status = Status::Incomplete; break;
        case WaveStatus::Complete: r.status = Status::Complete; break;
    }
    const media::wave::WaveDescription& d = file.description();
    r.path = path;
    r.error = file.problem();
    r.fileBytes = file.fileBytes();
    r.container = d.rf64 ? "RF64" : "RIFF";
    r.sampleRate = d.sampleRate;
    r.channels = d.channels;
    r.bitsPerSample = d.bitsPerSample;
    r.frames = d.frames();
    r.durationSeconds = d.sampleRate > 0 ? static_cast<double>(r.frames) / d.sampleRate : 0;
    return r;
}

nlohmann::ordered_json recordingJson(const RecordingSummary& r) {
    nlohmann::ordered_json j;
    j["status"] = statusName(r.status);
    if (!r.path.empty()) j["path"] = r.path;
    if (r.status != Status::Complete) j["error"] = r.error;
    if (r.status == Status::Complete || r.cutShort) {
        j["container"] = r.container;
        j["sampleRate"] = r.sampleRate;
        j["channels"] = r.channels;
        j["bitsPerSample"] = r.bitsPerSample;
        j["frames"] = r.frames;
        j["durationSeconds"] = r.durationSeconds;
    }
    if (!r.path.empty()) j["fileBytes"] = r.fileBytes;
    if (r.levels) {
        j["peakDbfs"] = decibels(r.levels->peakDbfs);
        j["rmsDbfs"] = decibels(r.levels->rmsDbfs);
        j["fullScaleSamples"] = r.levels->fullScaleSamples;
    }
    return j;
}

RecordingSummary recordingFromJson(const nlohmann::json& j) {
    static constexpr std::array kKeys{"status",   "path",          "error",           "container",       "sampleRate",
                                      "channels", "bitsPerSample", "frames",          "durationSeconds", "fileBytes",
                                      "peakDbfs", "rmsDbfs",       "fullScaleSamples"};
    for (const auto& [key, value] : j.items())
        if (std::find(kKeys.begin(), kKeys.end(), key) == kKeys.end())
            throw std::invalid_argument("unknown key \"" + key + "\" in a recording");
    RecordingSummary r;
    const std::string status = j.at("status").get<std::string>();
    bool known = false;
    for (const auto& [value, name] : kStatusNames)
        if (status == name) r.status = value, known = true;
    if (!known) throw std::invalid_argument("unknown recording status \"" + status + "\"");
    // The keys that depend on the status are there exactly when it says so.
    if (j.contains("path") != (r.status != Status::Missing) || j.contains("error") != (r.status != Status::Complete) ||
        j.contains("container") != (r.status == Status::Complete))
        throw std::invalid_argument("a recording whose keys do not fit its status \"" + status + "\"");
    if (j.contains("path")) {
        r.path = j.at("path").get<std::string>();
        r.fileBytes = j.at("fileBytes").get<uint64_t>();
    }
    if (r.status != Status::Complete) r.error = j.at("error").get<std::string>();
    r.cutShort = r.status == Status::Incomplete && j.contains("container");
    if (r.status == Status::Complete || r.cutShort) {
        r.container = j.at("container").get<std::string>();
        r.sampleRate = j.at("sampleRate").get<uint32_t>();
        r.channels = j.at("channels").get<uint32_t>();
        r.bitsPerSample = j.at("bitsPerSample").get<uint32_t>();
        r.frames = j.at("frames").get<uint64_t>();
        r.durationSeconds = j.at("durationSeconds").get<double>();
    }
    if (j.contains("fullScaleSamples"))
        r.levels = RecordingLevels{decibelsFrom(j.at("peakDbfs")), decibelsFrom(j.at("rmsDbfs")),
                                   j.at("fullScaleSamples").get<uint64_t>()};
    return r;
}

std::string jsonText(const nlohmann::ordered_json& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace toolkit
