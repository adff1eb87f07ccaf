#pragma once
// Plays a prepared scenario against the extension's principal class, the
// way the platform's broadcast service drives it.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AudioBufferMaker.h"
#include "PreparedScenario.h"
#include "StreamScheduler.h"
#include "platform/broadcast/RPBroadcastSampleHandler.h"
#include "toolkit/StopSignals.h"

namespace host {

// Hears what the runner does, for progress and the summary.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void broadcastBegan(int /*broadcast*/) {}
    // `broadcastNanos`: the buffer's time since the broadcast began.
    virtual void bufferDelivered(const DeliveredBuffer& /*buffer*/, int64_t /*broadcastNanos*/) {}
    // Called once per broadcast, after its first finish or finishWithError.
    virtual void broadcastEnded(int /*broadcast*/, bool /*withError*/) {}
};

using HandlerFactory = std::function<std::unique_ptr<RPBroadcastSampleHandler>()>;

struct RunOptions {
    bool realtime = false;  // sleep until each buffer's presentation time
    int64_t clockStartNanos = 0;
    toolkit::StopToken stop{};                 // ends the run, finishing the broadcast under way
    std::function<void()> stopping = nullptr;  // told once when a stop request starts finishing
};

// How a run ended: every step played, stopped on request,
// or cut short by a live source that failed. Either way the broadcast under
// way was finished with what it had recorded.
struct RunOutcome {
    bool stopped = false;
    std::string sourceFailure;  // why, when a live source failed
};

class ScenarioRunner {
public:
    ScenarioRunner(HandlerFactory makeHandler, RunObserver& observer, RunOptions options);
    ~ScenarioRunner();

    RunOutcome run(PreparedScenario& prepared);

private:
    void ensureHandler();
    void begin(const BeginStep& step);
    void deliver(const DeliveredBuffer& buffer);
    void deliverSingle(const BufferStep& step, AudioSource* source);
    void ended(bool withError);
    // Finishes the broadcast under way, if any, as the service does when it stops one.
    void finishEarly();
    // Finishes on a stop request and says how the run ended.
    RunOutcome stopEarly();
    // False when a stop request came before `nanos` was due.
    bool paceTo(int64_t nanos);

    HandlerFactory makeHandler_;
    RunObserver& observer_;
    RunOptions options_;
    std::unique_ptr<NSExtensionContext> context_;
    std::unique_ptr<RPBroadcastSampleHandler> handler_;
    int broadcast_ = 0;
    bool endReported_ = false;
    int64_t clockNanos_ = 0;
    int64_t broadcastStartNanos_ = 0;
    std::optional<std::pair<std::chrono::steady_clock::time_point, int64_t>> wallAnchor_;
    AudioBufferMaker singleBuffers_;  // content of `buffer` steps
};

}  // namespace host
