#include "HostOptions.h"

namespace host {

Scenario scenarioFromOptions(const HostOptions& options) {
    StreamStep streams;
    streams.app = options.app;
    streams.mic = options.mic;
    if (options.videoRate > 0) streams.video = VideoStreamPlan{options.videoRate};

    std::optional<double> duration = options.duration;
    const bool untilAppEnds = !duration && options.app && options.app->source.finite();
    if (!duration && !untilAppEnds && !options.live && !options.follow) duration = kDefaultDurationSeconds;

    Scenario scenario;
    scenario.steps.push_back(BeginStep{});
    scenario.steps.push_back(StartStep{defaultSetupInfo()});
    if (!options.pauseAt) {
        StreamStep all = streams;
        all.seconds = duration;
        scenario.steps.push_back(all);
    } else {
        StreamStep before = streams;
        before.seconds = *options.pauseAt;
        scenario.steps.push_back(before);
        if (options.resumeAt) {
            scenario.steps.push_back(PauseStep{*options.resumeAt - *options.pauseAt});
            scenario.steps.push_back(ResumeStep{});
            StreamStep after = streams;
            if (duration) after.seconds = *duration - *options.resumeAt;
            scenario.steps.push_back(after);
        } else {
            scenario.steps.push_back(PauseStep{});
        }
    }
    if (options.finishWithError)
        scenario.steps.push_back(FinishWithErrorStep{});
    else
        scenario.steps.push_back(FinishStep{});
    return scenario;
}

}  // namespace host
