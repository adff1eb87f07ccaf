#include "BroadcastReport.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include <nlohmann/json.hpp>

namespace host {
namespace {

std::string decibels(double value) {
    if (std::isinf(value)) return "-inf dBFS";
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << value << " dBFS";
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

nlohmann::json decibelsJson(double value) {
    return std::isinf(value) ? nlohmann::json(nullptr) : nlohmann::json(std::round(value * 100) / 100);
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
        if (broadcast.recording) {
            const RecordingFacts& facts = *broadcast.recording;
            out << "  recording  " << facts.path << "\n"
                << "  format     " << facts.container << ", " << facts.encoding << ", " << facts.sampleRate << " Hz, "
                << facts.channels << (facts.channels == 1 ? " channel" : " channels") << "\n"
                << "  duration   " << std::fixed << std::setprecision(3) << facts.seconds << " s (" << facts.frames
                << " frames)\n"
                << "  level      peak " << decibels(facts.peakDbfs) << ", RMS " << decibels(facts.rmsDbfs) << "\n"
                << "  clipped    " << broadcast.clippedByHost << " samples saturated by the host, "
                << facts.fullScaleSamples << " samples at full scale in the file\n";
        } else if (!broadcast.recordingProblem.empty()) {
            out << "  recording  unreadable: " << broadcast.recordingProblem << "\n";
        } else if (broadcast.end != BroadcastReport::End::NotEnded) {
            out << "  recording  none produced (expected at " << report.recordingPath << ")\n";
        }
    }
}

void printJsonSummary(const RunReport& report, std::ostream& out) {
    nlohmann::json broadcasts = nlohmann::json::array();
    for (const BroadcastReport& broadcast : report.broadcasts) {
        nlohmann::json entry = {
            {"index", broadcast.index},
            {"end", endName(broadcast.end)},
            {"buffers",
             {{"app", broadcast.buffers.app},
              {"mic", broadcast.buffers.mic},
              {"video", broadcast.buffers.video},
              {"other", broadcast.buffers.other}}},
            {"appAudioSeconds", broadcast.appAudioSeconds},
            {"samplesClippedByHost", broadcast.clippedByHost},
            {"overruns", broadcast.overruns},
            {"secondsLost", broadcast.secondsLost},
            {"recording", nullptr},
        };
        if (broadcast.recording) {
            const RecordingFacts& facts = *broadcast.recording;
            entry["recording"] = {
                {"path", facts.path},         {"container", facts.container},
                {"encoding", facts.encoding}, {"sampleRate", facts.sampleRate},
                {"channels", facts.channels}, {"frames", facts.frames},
                {"seconds", facts.seconds},   {"peakDbfs", decibelsJson(facts.peakDbfs)},
                {"rmsDbfs", decibelsJson(facts.rmsDbfs)}, {"fullScaleSamples", facts.fullScaleSamples},
            };
        }
        if (!broadcast.recordingProblem.empty()) entry["recordingProblem"] = broadcast.recordingProblem;
        broadcasts.push_back(std::move(entry));
    }
    out << nlohmann::json{{"recordingPath", report.recordingPath}, {"broadcasts", broadcasts}}.dump(2) << "\n";
}

}  // namespace host
