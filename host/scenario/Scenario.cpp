#include "Scenario.h"

namespace host {

const char* stepName(const Step& step) {
    struct Names {
        const char* operator()(const BeginStep&) const { return "begin"; }
        const char* operator()(const StartStep&) const { return "start"; }
        const char* operator()(const StreamStep&) const { return "stream"; }
        const char* operator()(const BufferStep&) const { return "buffer"; }
        const char* operator()(const PauseStep&) const { return "pause"; }
        const char* operator()(const ResumeStep&) const { return "resume"; }
        const char* operator()(const FinishStep&) const { return "finish"; }
        const char* operator()(const FinishWithErrorStep&) const { return "finishWithError"; }
    };
    return std::visit(Names{}, step);
}

AudioStreamPlan defaultAppStream() { return {parseSourceDescription("tones"), defaultAppEncoding()}; }
AudioStreamPlan defaultMicStream() { return {parseSourceDescription("sine:220"), defaultMicEncoding()}; }

bool startsABroadcastWithFloat64AppAudio(const Scenario& scenario) {
    const auto isFloat64 = [](const AudioStreamPlan& stream) {
        return stream.encoding.layout.kind == pcm::SampleKind::Float && stream.encoding.layout.validBits == 64;
    };
    bool appAudioSeen = false;
    for (const Step& step : scenario.steps) {
        const AudioStreamPlan* app = nullptr;
        if (std::holds_alternative<BeginStep>(step) || std::holds_alternative<StartStep>(step)) appAudioSeen = false;
        if (const auto* stream = std::get_if<StreamStep>(&step); stream && stream->app) app = &*stream->app;
        if (const auto* buffer = std::get_if<BufferStep>(&step);
            buffer && buffer->type == RPSampleBufferTypeAudioApp && buffer->kind == BufferStep::Kind::Audio)
            app = &buffer->audio;
        if (app != nullptr && !appAudioSeen && isFloat64(*app)) return true;
        appAudioSeen = appAudioSeen || app != nullptr;
    }
    return false;
}

RPSetupInfo defaultSetupInfo() {
    return {{"broadcastTitle", "Host broadcast"}, {"endpointURL", "rtmp://localhost/live"}};
}

}  // namespace host
