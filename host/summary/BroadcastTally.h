#pragma once
// Keeps the run's account while the scenario plays: buffers per broadcast,
// progress on the terminal, and after each broadcast ends, whether a new
// shared recording appeared and what it holds.

#include <optional>
#include <string>

#include "BroadcastReport.h"
#include "host/progress/ProgressLine.h"
#include "host/scenario/ScenarioRunner.h"

namespace host {

class BroadcastTally final : public RunObserver {
public:
    // `progress` may be null. A recording already at `recordingPath` before
    // the run does not count as produced.
    BroadcastTally(std::string recordingPath, ProgressLine* progress);

    void broadcastBegan(int broadcast) override;
    void bufferDelivered(const DeliveredBuffer& buffer, int64_t broadcastNanos) override;
    void broadcastEnded(int broadcast, bool withError) override;

    const RunReport& report() const { return report_; }
    // True when every broadcast that ended left a readable recording.
    bool everyEndedBroadcastRecorded() const;

private:
    BroadcastReport& current() { return report_.broadcasts.back(); }

    RunReport report_;
    ProgressLine* progress_;
    std::optional<FileIdentity> lastSeen_;
    ProgressState state_;
};

}  // namespace host
