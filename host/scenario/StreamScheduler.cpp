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
    double framesPerSecond = 0;  // video lane
    int64_t startNanos = 0;
    int64_t startTicks = 0;             // audio: first frame in audioTimescale units
    int64_t delivered = 0;              // frames (audio) or pictures (video)
    std::optional<int64_t> frameLimit;  // audio frames in a span of known length
    bool ended = false;
    AudioBufferMaker maker;

    CMTime nextTime() const {
        if (audio != nullptr) return audioFrameTime(audio->encoding.sampleRate, startTicks, delivered);
        return CMTimeMake(startNanos + std::llround(static_cast<double>(delivered) * kNanosPerSecond / framesPerSecond),
                          kVideoTimescale);
    }
    int64_t nextNanos() const { return nanosOf(nextTime().value, nextTime().timescale); }
};

// One span: the lanes, each buffer in presentation order, and where the span ends.
class Span {
public:
    Span(const StreamStep& step, AudioSource* appSource, AudioSource* micSource, int64_t startNanos,
         const DeliverFunction& deliver)
        : step_(step), startNanos_(startNanos), reachedNanos_(startNanos), deliver_(deliver) {
        setUpAudio(lanes_[0], RPSampleBufferTypeAudioApp, step.app, appSource);
        setUpAudio(lanes_[1], RPSampleBufferTypeAudioMic, step.mic, micSource);
        Lane& video = lanes_[2];
        video.type = RPSampleBufferTypeVideo;
        video.ended = !step.video;
        video.startNanos = startNanos;
        if (step.video) video.framesPerSecond = step.video->framesPerSecond;
        // Known from the start with `seconds`, else once the app source ends.
        if (step.seconds) endNanos_ = startNanos + nanosOfSeconds(*step.seconds);
    }

    int64_t run(const toolkit::StopToken& stop) {
        while (!stop.requested()) {
            Lane* next = nextLane();
            if (next == nullptr) break;
            if (next->audio == nullptr)
                deliverPicture(*next);
            else
                deliverAudio(*next, next->audio->encoding.framesPerBuffer);
        }
        if (stop.requested()) {
            // What a live source captured up to the stop still goes out, a
            // buffer at a time, until its drain ends.
            for (Lane& lane : lanes_)
                while (!lane.ended && lane.source != nullptr && lane.source->live())
                    deliverAudio(lane, lane.audio->encoding.framesPerBuffer);
            return reachedNanos_ - startNanos_;
        }
        return endNanos_.value_or(startNanos_) - startNanos_;  // none only when nothing could be delivered
    }

private:
    void setUpAudio(Lane& lane, RPSampleBufferType type, const std::optional<AudioStreamPlan>& plan,
                    AudioSource* source) {
        lane.type = type;
        lane.ended = !plan || source == nullptr;
        if (lane.ended) return;
        lane.audio = &*plan;
        lane.source = source;
        lane.startTicks = ticksAtOrAfter(startNanos_, audioTimescale(plan->encoding.sampleRate));
        if (step_.seconds) lane.frameLimit = std::llround(*step_.seconds * plan->encoding.sampleRate);
    }

    // The lane whose next buffer comes first (ties: app, mic, video), after
    // ending the lanes that reached the span's end.
    Lane* nextLane() {
        Lane* next = nullptr;
        for (Lane& lane : lanes_) {
            if (lane.ended) continue;
            if (endNanos_ && compareTimes(lane.nextTime(), CMTimeMake(*endNanos_, kVideoTimescale)) >= 0)
                lane.ended = true;
            if (lane.audio != nullptr && lane.frameLimit && lane.delivered >= *lane.frameLimit) lane.ended = true;
            if (!lane.ended && (next == nullptr || compareTimes(lane.nextTime(), next->nextTime()) < 0)) next = &lane;
        }
        return next;
    }

    void deliverPicture(Lane& lane) {
        DeliveredBuffer delivered;
        delivered.type = lane.type;
        delivered.presentationNanos = lane.nextNanos();
        const CMSampleBuffer picture = makeVideoBuffer(lane.nextTime());
        delivered.buffer = &picture;
        ++lane.delivered;
        deliver_(delivered);
    }

    void deliverAudio(Lane& lane, int64_t want) {
        const AudioEncoding& encoding = lane.audio->encoding;
        if (lane.frameLimit) want = std::min(want, *lane.frameLimit - lane.delivered);
        if (want <= 0) return;
        const CMTime time = lane.nextTime();
        const auto got = static_cast<int64_t>(lane.maker.make(*lane.source, encoding, static_cast<size_t>(want), time));
        const int64_t laneEnd = nanosOf(audioFrameTime(encoding.sampleRate, lane.startTicks, lane.delivered + got));
        if (got < want) {
            lane.ended = true;
            if (&lane == &lanes_[0] && !endNanos_) endNanos_ = laneEnd;
            if (!lane.source->failure().empty()) endNanos_ = std::min(endNanos_.value_or(laneEnd), laneEnd);
        }
        reachedNanos_ = std::max(reachedNanos_, laneEnd);
        if (got == 0) return;
        lane.delivered += got;
        DeliveredBuffer delivered;
        delivered.type = lane.type;
        delivered.presentationNanos = nanosOf(time);
        delivered.buffer = &lane.maker.buffer();
        delivered.frames = got;
        delivered.sampleRate = encoding.sampleRate;
        delivered.clipped = lane.maker.clippedInLastBuffer();
        if (lane.source->live()) {
            delivered.live = true;
            delivered.overruns = lane.source->takeOverruns();
        }
        deliver_(delivered);
    }

    const StreamStep& step_;
    const int64_t startNanos_;
    std::array<Lane, 3> lanes_;
    std::optional<int64_t> endNanos_;
    int64_t reachedNanos_;  // the end of what was delivered, should a stop cut the span
    const DeliverFunction& deliver_;
};

}  // namespace

int64_t runStream(const StreamStep& step, AudioSource* appSource, AudioSource* micSource, int64_t startNanos,
                  const DeliverFunction& deliver, toolkit::StopToken stop) {
    return Span(step, appSource, micSource, startNanos, deliver).run(stop);
}

}  // namespace host
