#include "PreparedScenario.h"

#include <map>
#include <string>

#include "host/HostError.h"

namespace host {
namespace {

class SourceBank {
public:
    explicit SourceBank(const PrepareOptions& options) : options_(options) {}

    void newBroadcast() { open_.clear(); }

    std::shared_ptr<AudioSource> get(const std::string& role, const AudioStreamPlan& stream) {
        if (stream.source.kind == SourceDescription::Kind::Stdin) {
            if (!stdinRole_.empty() && stdinRole_ != role)
                throw sourceError("standard input can feed only one stream (it already feeds " + stdinRole_ + ")");
            stdinRole_ = role;
        }
        // A live source records in one encoding: another encoding is another stream.
        std::string key = role;
        key.append(1, '\n').append(stream.source.text);
        if (stream.source.live()) key.append(1, '\n').append(stream.encoding.describe());
        auto& source = open_[key];
        if (!source)
            source = openSource(stream.source, stream.encoding,
                                {options_.stdinFd, role == "mic" ? SourceRole::Mic : SourceRole::App, options_.stop,
                                 role == "app" ? options_.followIdleSeconds : std::nullopt});
        return source;
    }

private:
    const PrepareOptions& options_;
    std::string stdinRole_;
    std::map<std::string, std::shared_ptr<AudioSource>> open_;
};

std::string roleOfBufferType(RPSampleBufferType type) {
    if (type == RPSampleBufferTypeAudioApp) return "app";
    if (type == RPSampleBufferTypeAudioMic) return "mic";
    return "buffers of type " + std::to_string(type);
}

}  // namespace

PreparedScenario prepareScenario(Scenario scenario, const PrepareOptions& options) {
    const std::string& scenarioName = options.scenarioName;
    PreparedScenario prepared;
    SourceBank bank(options);
    for (size_t i = 0; i < scenario.steps.size(); ++i) {
        const Step& step = scenario.steps[i];
        // A scenario file's mistakes name the step, as its parser does.
        const auto open = [&](const std::string& role, const AudioStreamPlan& plan, const char* field) {
            try {
                return bank.get(role, plan);
            } catch (const HostError& error) {
                if (scenarioName.empty()) throw;
                throw HostError(error.code(), scenarioName + ": step " + std::to_string(i + 1) + " (" + stepName(step) +
                                                  ")" + field + ": " + error.what());
            }
        };
        StepSources sources;
        if (std::holds_alternative<BeginStep>(step)) bank.newBroadcast();
        if (const auto* stream = std::get_if<StreamStep>(&step)) {
            if (stream->app) sources.app = open("app", *stream->app, " app");
            if (stream->mic) sources.mic = open("mic", *stream->mic, " mic");
        }
        if (const auto* buffer = std::get_if<BufferStep>(&step)) {
            if (buffer->kind == BufferStep::Kind::Audio || buffer->kind == BufferStep::Kind::NoFormat)
                sources.single = open(roleOfBufferType(buffer->type), buffer->audio, "");
        }
        prepared.sources.push_back(std::move(sources));
    }
    prepared.scenario = std::move(scenario);
    return prepared;
}

}  // namespace host
