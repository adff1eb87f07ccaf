#pragma once
// What the host tells a person (or a script, as JSON) after the run: for
// each broadcast, the buffers delivered and the shared recording it left.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingInspector.h"

namespace host {

struct BufferCounts {
    uint64_t app = 0;
    uint64_t mic = 0;
    uint64_t video = 0;
    uint64_t other = 0;  // null buffers, unknown types
};

struct BroadcastReport {
    int index = 0;
    enum class End { NotEnded, Finished, FinishedWithError } end = End::NotEnded;
    BufferCounts buffers;
    double appAudioSeconds = 0;  // app audio delivered
    uint64_t clippedByHost = 0;  // samples the host saturated while encoding
    bool live = false;           // audio came from a live source
    uint64_t overruns = 0;       // times a live source lost audio
    double secondsLost = 0;      // how much it lost
    // Once the broadcast ended: the recording its own hand-over placed, or
    // why there is none (missing), it cannot be read (invalid) or it was cut
    // short (incomplete).
    std::optional<toolkit::RecordingSummary> recording;
};

struct RunReport {
    std::string recordingPath;  // where the shared recording is expected (text summary only)
    std::vector<BroadcastReport> broadcasts;
};

void printTextSummary(const RunReport& report, std::ostream& out);
void printJsonSummary(const RunReport& report, std::ostream& out);

}  // namespace host
