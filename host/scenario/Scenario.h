#pragma once
// A script of the host's calls on the extension, one step at a time. The
// command line builds one; a scenario file spells one out in JSON.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/sources/AudioEncoding.h"
#include "host/sources/SourceDescription.h"
#include "platform/broadcast/RPBroadcastSampleHandler.h"

namespace host {

// The longest span of a broadcast the host plays (a week): a longer one is
// a mistake, not a broadcast.
inline constexpr double kMaxSpanSeconds = 7 * 24 * 3600;

struct AudioStreamPlan {
    SourceDescription source;
    AudioEncoding encoding;
};

struct VideoStreamPlan {
    double framesPerSecond = 30;
};

// A new request: a fresh principal class, then beginRequestWithExtensionContext.
struct BeginStep {
    std::string identifier = "broadcast";
};
// broadcastStartedWithSetupInfo, with the information or a null pointer.
struct StartStep {
    std::optional<RPSetupInfo> setupInfo;
};
// A span of interleaved app, mic and video buffers in presentation order.
// Without `seconds` the span lasts until the app source ends.
struct StreamStep {
    std::optional<double> seconds;
    std::optional<AudioStreamPlan> app;
    std::optional<AudioStreamPlan> mic;
    std::optional<VideoStreamPlan> video;
};
// One buffer delivered with any type value.
struct BufferStep {
    enum class Kind { Audio, Video, Null, NoFormat };
    RPSampleBufferType type = RPSampleBufferTypeAudioApp;
    Kind kind = Kind::Audio;
    AudioStreamPlan audio;  // content of Audio and NoFormat buffers
};
// broadcastPaused; the host clock then moves on by `seconds`.
struct PauseStep {
    double seconds = 0;
};
struct ResumeStep {};
struct FinishStep {};
struct FinishWithErrorStep {
    std::string domain = "RPRecordingErrorDomain";
    long code = -5800;
    std::string description = "The broadcast was stopped by the host.";
};

using Step = std::variant<BeginStep, StartStep, StreamStep, BufferStep, PauseStep, ResumeStep, FinishStep,
                          FinishWithErrorStep>;

// The step's name as scenario files write it.
const char* stepName(const Step& step);

struct Scenario {
    std::vector<Step> steps;
};

// Setup information the host starts broadcasts with unless told otherwise.
RPSetupInfo defaultSetupInfo();

}  // namespace host
