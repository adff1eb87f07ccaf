#pragma once
// A script of the host's calls on the extension, one step at a time. The
// command line builds one; a scenario file spells one out in JSON.

#include <cstddef>
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

// A scenario file holds at most this much JSON and this many steps: far more
// than a script of broadcasts, written or generated, needs, and little enough
// that the host reads and checks any file within a second and 200 MB (the
// worst case, 4 MiB of tiny JSON values, measured 0.6 s and 155 MB). Playing
// it takes as long as the audio it asks for.
inline constexpr size_t kMaxScenarioBytes = 4 << 20;
inline constexpr size_t kMaxScenarioSteps = 10'000;

struct AudioStreamPlan {
    SourceDescription source;
    AudioEncoding encoding;
};

// The streams a broadcast gets when neither the command line nor a scenario
// describes them: a melody as app audio, a 220 Hz tone as the microphone.
AudioStreamPlan defaultAppStream();
AudioStreamPlan defaultMicStream();

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

using Step =
    std::variant<BeginStep, StartStep, StreamStep, BufferStep, PauseStep, ResumeStep, FinishStep, FinishWithErrorStep>;

// The step's name as scenario files write it.
const char* stepName(const Step& step);

struct Scenario {
    std::vector<Step> steps;
};

// True when the first app audio of some broadcast (after a begin or a start)
// is 64-bit float, of which the recorder makes no recording: it writes the
// depth it is first given as integers, and WAVE files have no 64-bit ones.
bool startsABroadcastWithFloat64AppAudio(const Scenario& scenario);

// Setup information the host starts broadcasts with unless told otherwise.
RPSetupInfo defaultSetupInfo();

}  // namespace host
