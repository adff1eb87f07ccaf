#pragma once
// Keeps the run's account while the scenario plays: buffers per broadcast,
// progress on the terminal, and after each broadcast ends, what its own
// hand-over placed (from the platform's record of it, never from the shared
// path, which another broadcast at the same time may have taken since).

#include <optional>
#include <string>

#include "BroadcastReport.h"
#include "host/HostError.h"
#include "host/progress/ProgressLine.h"
#include "host/scenario/ScenarioRunner.h"

namespace host {

class BroadcastTally final : public RunObserver {
public:
    // `progress` may be null; `recordingPath` is where the shared recording
    // is expected, for the text summary.
    BroadcastTally(std::string recordingPath, ProgressLine* progress);

    void broadcastBegan(int broadcast) override;
    void bufferDelivered(const DeliveredBuffer& buffer, int64_t broadcastNanos) override;
    void broadcastEnded(int broadcast, bool withError) override;

    const RunReport& report() const { return report_; }
    // NoRecording when a broadcast that ended handed over no complete
    // recording, else CutShort when one handed over a recording cut short,
    // else Ok.
    ExitCode exitStatus() const;

private:
    BroadcastReport& current() { return report_.broadcasts.back(); }

    RunReport report_;
    ProgressLine* progress_;
    uint64_t handOversBefore_ = 0;  // the platform's counts when the broadcast began
    uint64_t removalsBefore_ = 0;
    ProgressState state_;
};

}  // namespace host
