#pragma once
// Delivers one span of a broadcast: the app, mic and video streams' buffers
// interleaved in presentation-time order (ties: app, mic, video).

#include <cstdint>
#include <functional>

#include "Scenario.h"
#include "host/sources/AudioSource.h"
#include "toolkit/StopSignals.h"

namespace host {

// What the host knows about a buffer it has just delivered.
struct DeliveredBuffer {
    CMSampleBufferRef buffer = nullptr;
    RPSampleBufferType type = 0;
    int64_t presentationNanos = 0;  // host clock
    int64_t frames = 0;             // audio frames, 0 for video
    double sampleRate = 0;          // audio only
    uint64_t clipped = 0;           // samples saturated while encoding
    bool live = false;              // from a live source: delivered as it arrived
    SourceOverruns overruns;        // audio the live source lost since its last buffer
};

using DeliverFunction = std::function<void(const DeliveredBuffer&)>;

// Plays `step` from `startNanos` on the host clock with the given sources
// (null where the stream is absent). Returns the span's length in
// nanoseconds: `seconds`, or the app source's length when it has none. A
// live source that fails ends the span at its last frame; a `stop` request
// ends it before the next buffer.
int64_t runStream(const StreamStep& step, AudioSource* appSource, AudioSource* micSource, int64_t startNanos,
                  const DeliverFunction& deliver, toolkit::StopToken stop = {});

}  // namespace host
