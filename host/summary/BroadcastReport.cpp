#include "BroadcastReport.h"

#include <iomanip>
#include <sstream>

#include <nlohmann/json.hpp>

namespace host {
namespace {

using Status = toolkit::RecordingSummary::Status;

std::string decibels(const std::optional<double>& value) {
    if (!value) return "-inf dBFS";
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << *value << " dBFS";
    return text.str();
}

const char* endName(BroadcastReport::End end) {
    switch (end) {
        case BroadcastReport::End::Finished: return "finished";
        case BroadcastReport::End::FinishedWithError: return "finished with error";
        case BroadcastReport::End::NotEnded: break;
    }
    return "not ended";
}

// The recording's lines of a broadcast's text summary.
void printRecording(const BroadcastReport& broadcast, const std::string& expectedPath, std::ostream& out) {
    const toolkit::RecordingSummary& facts = *broadcast.recording;
    if (facts.status == Status::Missing) {
        out << "  recording  none: " << facts.error << " (expected at " << expectedPath << ")\n";
        return;
    }
    if (facts.status != Status::Complete)
        out << "  recording  " << toolkit::statusName(facts.status) << ": " << facts.error << "\n";
    if (facts.status != Status::Complete && !facts.cutShort) return;
    const toolkit::RecordingLevels levels = facts.levels.value_or(toolkit::RecordingLevels{});
    out << "  recording  " << facts.path << "\n"
        << "  format     " << facts.container << ", " << facts.bitsPerSample << "-bit, " << facts.sampleRate << " Hz, "
        << facts.channels << (facts.channels == 1 ? " channel" : " channels") << "\n"
        << "  duration   " << std::fixed << std::setprecision(3) << facts.durationSeconds << " s (" << facts.frames
        << " frames)\n"
        << "  level      peak " << decibels(levels.peakDbfs) << ", RMS " << decibels(levels.rmsDbfs) << "\n"
        << "  clipped    " << broadcast.clippedByHost << " samples saturated by the host, " << levels.fullScaleSamples
        << " samples at full scale in the file\n";
}

}  // namespace

void printTextSummary(const RunReport& report, std::ostream& out) {
    for (const BroadcastReport& broadcast : report.broadcasts) {
        out << "Broadcast " << broadcast.index << " (" << endName(broadcast.end) << "): buffers app "
            << broadcast.buffers.app << ", mic " << broadcast.buffers.mic << ", video " << broadcast.buffers.video
            << ", other " << broadcast.buffers.other << "; app audio " << std::fixed << std::setprecision(3)
            << broadcast.appAudioSeconds << " s";
        if (broadcast.live) out << "; overruns " << broadcast.overruns << " (" << broadcast.secondsLost << " s lost)";
        out << "\n";
        if (broadcast.recording) printRecording(broadcast, report.recordingPath, out);
    }
}

void printJsonSummary(const RunReport& report, std::ostream& out) {
    nlohmann::ordered_json broadcasts = nlohmann::ordered_json::array();
    for (const BroadcastReport& broadcast : report.broadcasts) {
        nlohmann::ordered_json entry;
        entry["index"] = broadcast.index;
        entry["end"] = endName(broadcast.end);
        entry["buffers"] = {{"app", broadcast.buffers.app},
                            {"mic", broadcast.buffers.mic},
                            {"video", broadcast.buffers.video},
                            {"other", broadcast.buffers.other}};
        entry["appAudioSeconds"] = broadcast.appAudioSeconds;
        entry["samplesClippedByHost"] = broadcast.clippedByHost;
        entry["overruns"] = broadcast.overruns;
        entry["secondsLost"] = broadcast.secondsLost;
        entry["recording"] = broadcast.recording ? toolkit::recordingJson(*broadcast.recording) : nullptr;
        broadcasts.push_back(std::move(entry));
    }
    out << toolkit::jsonText({{"broadcasts", std::move(broadcasts)}}, 2) << "\n";
}

}  // namespace host
