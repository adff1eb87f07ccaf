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

RPSetupInfo defaultSetupInfo() {
    return {{"broadcastTitle", "Host broadcast"}, {"endpointURL", "rtmp://localhost/live"}};
}

}  // namespace host
