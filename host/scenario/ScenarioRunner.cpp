#include "ScenarioRunner.h"

#include "AudioBufferMaker.h"
#include "HostClock.h"
#include "platform/foundation/NSError.h"

namespace host {

ScenarioRunner::ScenarioRunner(HandlerFactory makeHandler, RunObserver& observer, RunOptions options)
    : makeHandler_(std::move(makeHandler)),
      observer_(observer),
      options_(options),
      clockNanos_(options.clockStartNanos) {}

ScenarioRunner::~ScenarioRunner() {
    // The principal class goes before the context it was given.
    handler_.reset();
    context_.reset();
}

void ScenarioRunner::ensureHandler() {
    if (handler_) return;
    handler_ = makeHandler_();
    ++broadcast_;
    endReported_ = false;
    broadcastStartNanos_ = clockNanos_;
    observer_.broadcastBegan(broadcast_);
}

void ScenarioRunner::begin(const BeginStep& step) {
    handler_.reset();
    context_ = std::make_unique<NSExtensionContext>(step.identifier);
    ensureHandler();
    handler_->beginRequestWithExtensionContext(context_.get());
}

bool ScenarioRunner::paceTo(int64_t nanos) {
    if (!options_.realtime) return true;
    const auto now = std::chrono::steady_clock::now();
    if (!wallAnchor_) wallAnchor_.emplace(now, nanos);
    const auto due = wallAnchor_->first + std::chrono::nanoseconds(nanos - wallAnchor_->second);
    return due <= now || options_.stop.sleepUntil(due);
}

void ScenarioRunner::deliver(const DeliveredBuffer& buffer) {
    if (buffer.live) {
        // Live audio sets the pace: it goes out as it arrives, and the other
        // streams follow its clock (the sound card's), which may drift from
        // the host's.
        wallAnchor_.emplace(std::chrono::steady_clock::now(),
                            buffer.presentationNanos + buffer.frames * kNanosPerSecond / buffer.sampleRate);
    } else if (!paceTo(buffer.presentationNanos)) {
        return;
    }
    handler_->processSampleBuffer(buffer.buffer, buffer.type);
    observer_.bufferDelivered(buffer, buffer.presentationNanos - broadcastStartNanos_);
}

void ScenarioRunner::deliverSingle(const BufferStep& step, AudioSource* source) {
    DeliveredBuffer delivered;
    delivered.type = step.type;
    delivered.presentationNanos = clockNanos_;
    switch (step.kind) {
        case BufferStep::Kind::Null: deliver(delivered); return;
        case BufferStep::Kind::Video: {
            const CMSampleBuffer picture = makeVideoBuffer(CMTimeMake(clockNanos_, kVideoTimescale));
            delivered.buffer = &picture;
            deliver(delivered);
            return;
        }
        case BufferStep::Kind::Audio:
        case BufferStep::Kind::NoFormat: {
            const AudioEncoding& encoding = step.audio.encoding;
            AudioBufferMaker& maker = singleBuffers_;
            const int64_t ticks = ticksAtOrAfter(clockNanos_, audioTimescale(encoding.sampleRate));
            const CMTime time = audioFrameTime(encoding.sampleRate, ticks, 0);
            const size_t got = maker.make(*source, encoding, encoding.framesPerBuffer, time);
            if (step.kind == BufferStep::Kind::NoFormat) maker.dropFormatDescription();
            delivered.buffer = &maker.buffer();
            delivered.frames = static_cast<int64_t>(got);
            delivered.sampleRate = encoding.sampleRate;
            delivered.clipped = maker.clippedInLastBuffer();
            delivered.presentationNanos = nanosOf(time);
            deliver(delivered);
            clockNanos_ = nanosOf(audioFrameTime(encoding.sampleRate, ticks, static_cast<int64_t>(got)));
            return;
        }
    }
}

void ScenarioRunner::ended(bool withError) {
    if (endReported_) return;
    endReported_ = true;
    observer_.broadcastEnded(broadcast_, withError);
}

void ScenarioRunner::finishEarly() {
    if (!handler_ || endReported_) return;
    handler_->broadcastFinished();
    ended(false);
}

RunOutcome ScenarioRunner::run(PreparedScenario& prepared) {
    const auto& steps = prepared.scenario.steps;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        StepSources& sources = prepared.sources[i];
        if (options_.stop.requested()) return stopEarly();
        if (const auto* beginStep = std::get_if<BeginStep>(&step)) {
            begin(*beginStep);
            continue;
        }
        ensureHandler();
        if (const auto* start = std::get_if<StartStep>(&step)) {
            handler_->broadcastStartedWithSetupInfo(start->setupInfo ? &*start->setupInfo : nullptr);
        } else if (const auto* stream = std::get_if<StreamStep>(&step)) {
            clockNanos_ += runStream(
                *stream, sources.app.get(), sources.mic.get(), clockNanos_,
                [this](const DeliveredBuffer& buffer) { deliver(buffer); }, options_.stop);
            for (const AudioSource* source : {sources.app.get(), sources.mic.get()}) {
                if (source == nullptr || source->failure().empty() || options_.stop.requested()) continue;
                finishEarly();
                return {false, std::string(source->failure())};
            }
        } else if (const auto* buffer = std::get_if<BufferStep>(&step)) {
            deliverSingle(*buffer, sources.single.get());
        } else if (const auto* pause = std::get_if<PauseStep>(&step)) {
            handler_->broadcastPaused();
            clockNanos_ += nanosOfSeconds(pause->seconds);
        } else if (std::holds_alternative<ResumeStep>(step)) {
            handler_->broadcastResumed();
        } else if (std::holds_alternative<FinishStep>(step)) {
            handler_->broadcastFinished();
            ended(false);
        } else if (const auto* finish = std::get_if<FinishWithErrorStep>(&step)) {
            handler_->finishBroadcastWithError(
                NSError::errorWithDescription(finish->domain, finish->code, finish->description));
            ended(true);
        }
    }
    if (options_.stop.requested()) return stopEarly();
    return {};
}

RunOutcome ScenarioRunner::stopEarly() {
    if (options_.stopping) options_.stopping();
    finishEarly();
    return {true, {}};
}

}  // namespace host
