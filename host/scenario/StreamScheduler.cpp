#include "StreamScheduler.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "AudioBufferMaker.h"
#include "HostClock.h"

namespace host {
namespace {

struct Lane {
    RPSampleBufferType type = 0;
    const AudioStreamPlan* audio = nullptr;  // audio lanes
    AudioSource* source = nullptr;
    double framesPerSecond = 0;              // video lane
    int64_t startNanos = 0;
    int64_t startTicks = 0;                  // audio: first frame in audioTimescale units
    int64_t delivered = 0;                   // frames (audio) or pictures (video)
    std::optional<int64_t> frameLimit;       // audio frames in a span of known length
    bool ended = false;
    AudioBufferMaker maker;

    CMTime nextTime() const {
        if (audio != nullptr) return audioFrameTime(audio->encoding.sampleRate, startTicks, delivered);
        return CMTimeMake(startNanos + std::llround(static_cast<double>(delivered) * kNanosPerSecond / framesPerSecond),
                          kVideoTimescale);
    }
    int64_t nextNanos() const { return nanosOf(nextTime().value, nextTime().timescale); }
};

}  // namespace

int64_t runStream(const StreamStep& step, AudioSource* appSource, AudioSource* micSource, int64_t startNanos,
                  const DeliverFunction& deliver, toolkit::StopToken stop) {
    std::array<Lane, 3> lanes;
    const auto setUpAudio = [&](Lane& lane, RPSampleBufferType type, const std::optional<AudioStreamPlan>& plan,
                                AudioSource* source) {
        lane.type = type;
        lane.ended = !plan || source == nullptr;
        if (lane.ended) return;
        lane.audio = &*plan;
        lane.source = source;
        lane.startTicks = ticksAtOrAfter(startNanos, audioTimescale(plan->encoding.sampleRate));
        if (step.seconds) lane.frameLimit = std::llround(*step.seconds * plan->encoding.sampleRate);
    };
    setUpAudio(lanes[0], RPSampleBufferTypeAudioApp, step.app, appSource);
    setUpAudio(lanes[1], RPSampleBufferTypeAudioMic, step.mic, micSource);
    Lane& video = lanes[2];
    video.type = RPSampleBufferTypeVideo;
    video.ended = !step.video;
    video.startNanos = startNanos;
    if (step.video) video.framesPerSecond = step.video->framesPerSecond;

    // Known from the start with `seconds`, else once the app source ends.
    std::optional<int64_t> endNanos;
    if (step.seconds) endNanos = startNanos + nanosOfSeconds(*step.seconds);
    const auto pastEnd = [&](const Lane& lane) {
        return endNanos && compareTimes(lane.nextTime(), CMTimeMake(*endNanos, kVideoTimescale)) >= 0;
    };

    int64_t reachedNanos = startNanos;  // the end of what was delivered, should a stop cut the span
    while (!stop.requested()) {
        Lane* next = nullptr;
        for (Lane& lane : lanes) {
            if (lane.ended) continue;
            if (pastEnd(lane)) lane.ended = true;
            if (lane.audio != nullptr && lane.frameLimit && lane.delivered >= *lane.frameLimit) lane.ended = true;
            if (!lane.ended && (next == nullptr || compareTimes(lane.nextTime(), next->nextTime()) < 0)) next = &lane;
        }
        if (next == nullptr) break;

        DeliveredBuffer delivered;
        delivered.type = next->type;
        delivered.presentationNanos = next->nextNanos();
        if (next->audio == nullptr) {
            const CMSampleBuffer picture = makeVideoBuffer(next->nextTime());
            delivered.buffer = &picture;
            ++next->delivered;
            deliver(delivered);
            continue;
        }
        const AudioEncoding& encoding = next->audio->encoding;
        int64_t want = encoding.framesPerBuffer;
        if (next->frameLimit) want = std::min(want, *next->frameLimit - next->delivered);
        const CMTime time = next->nextTime();
        const auto got = static_cast<int64_t>(next->maker.make(*next->source, encoding, static_cast<size_t>(want), time));
        const int64_t laneEnd = nanosOf(audioFrameTime(encoding.sampleRate, next->startTicks, next->delivered + got));
        if (got < want) {
            next->ended = true;
            if (next == &lanes[0] && !endNanos) endNanos = laneEnd;
            if (!next->source->failure().empty()) endNanos = std::min(endNanos.value_or(laneEnd), laneEnd);
        }
        reachedNanos = std::max(reachedNanos, laneEnd);
        if (got == 0) continue;
        next->delivered += got;
        delivered.buffer = &next->maker.buffer();
        delivered.frames = got;
        delivered.sampleRate = encoding.sampleRate;
        delivered.clipped = next->maker.clippedInLastBuffer();
        if (next->source->live()) {
            delivered.live = true;
            delivered.overruns = next->source->takeOverruns();
        }
        deliver(delivered);
    }
    if (stop.requested()) return reachedNanos - startNanos;
    if (!endNanos) endNanos = startNanos;  // only when nothing could be delivered at all
    return *endNanos - startNanos;
}

}  // namespace host
