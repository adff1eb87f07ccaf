#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include "host/HostError.h"
#include "host/scenario/ScenarioParser.h"

namespace host {
namespace {

constexpr const char* kDescription =
    "Plays the broadcast service for the upload extension: begins a broadcast, delivers app audio,\n"
    "microphone audio and video buffers in presentation order, finishes it, then prints a summary\n"
    "of the shared recording on standard output.\n\n"
    "Sources: sine:FREQ, tones, noise[:SEED], silence, file:PATH, - (raw PCM on standard input in the\n"
    "stream's format, or -:FORMAT:RATE:CHANNELS), pulse[:SOURCE] (live from the sound server; default:\n"
    "the default sink's monitor for app audio, the default source for the microphone), none.\n"
    "Formats: s8, s16le, s16be, s24le, s24be, s32le, s32be, f32le, f32be, f64le, f64be.\n\n"
    "Exit status: 0 ok, 1 internal failure, 2 usage, 3 bad source or unreadable sound file,\n"
    "4 bad scenario, 5 recording not produced, 6 container root unusable,\n"
    "7 the sound server went away mid-broadcast (what was recorded is handed over).\n"
    "SIGINT or SIGTERM finishes the broadcast and hands the recording over; a second one aborts (130).";

struct StreamArguments {
    std::string source;
    std::string format;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t frames = 0;
    bool nonInterleaved = false;
    std::vector<CLI::Option*> options;
};

void addStreamOptions(CLI::App& app, const std::string& prefix, const std::string& what,
                      const AudioStreamPlan& defaults, StreamArguments& arguments) {
    arguments.source = defaults.source.text;
    arguments.format = defaults.encoding.layout.name();
    arguments.rate = defaults.encoding.sampleRate;
    arguments.channels = defaults.encoding.channels;
    arguments.frames = defaults.encoding.framesPerBuffer;
    auto& o = arguments.options;
    o.push_back(app.add_option("--" + prefix + "-source", arguments.source, "Source of " + what)
                    ->capture_default_str());
    o.push_back(app.add_option("--" + prefix + "-format", arguments.format, "Sample format of " + what)
                    ->capture_default_str());
    o.push_back(app.add_option("--" + prefix + "-rate", arguments.rate, "Sample rate of " + what + " (Hz)")
                    ->check(CLI::Range(1u, kMaxSampleRate))
                    ->capture_default_str());
    o.push_back(app.add_option("--" + prefix + "-channels", arguments.channels, "Channels of " + what)
                    ->check(CLI::Range(1u, kMaxChannels))
                    ->capture_default_str());
    o.push_back(app.add_option("--" + prefix + "-frames", arguments.frames, "Frames in each buffer of " + what)
                    ->check(CLI::Range(1u, kMaxFramesPerBuffer))
                    ->capture_default_str());
    o.push_back(app.add_flag("--" + prefix + "-noninterleaved", arguments.nonInterleaved,
                             "Deliver " + what + " one block per channel"));
}

std::optional<AudioStreamPlan> buildStream(const StreamArguments& arguments, const std::string& prefix) {
    AudioStreamPlan stream;
    try {
        stream.source = parseSourceDescription(arguments.source);
    } catch (const std::invalid_argument& error) {
        throw HostError(ExitCode::BadSource, "--" + prefix + "-source: " + error.what());
    }
    if (stream.source.kind == SourceDescription::Kind::None) return std::nullopt;
    try {
        stream.encoding.layout = parseSampleLayout(arguments.format);
    } catch (const std::invalid_argument& error) {
        throw HostError(ExitCode::Usage, "--" + prefix + "-format: " + error.what());
    }
    stream.encoding.sampleRate = arguments.rate;
    stream.encoding.channels = arguments.channels;
    stream.encoding.framesPerBuffer = arguments.frames;
    stream.encoding.nonInterleaved = arguments.nonInterleaved;
    return stream;
}

}  // namespace

std::optional<HostOptions> parseCommandLine(int argc, const char* const* argv, std::ostream& out) {
    CLI::App app{kDescription, "broadcast-extension"};
    HostOptions options;
    StreamArguments appArguments;
    StreamArguments micArguments;
    addStreamOptions(app, "app", "app audio", defaultAppStream(), appArguments);
    addStreamOptions(app, "mic", "microphone audio", defaultMicStream(), micArguments);

    std::vector<CLI::Option*> broadcastOptions = appArguments.options;
    broadcastOptions.insert(broadcastOptions.end(), micArguments.options.begin(), micArguments.options.end());
    broadcastOptions.push_back(app.add_option("--video-rate", options.videoRate, "Video buffers a second (0: none)")
                                   ->check(CLI::Range(0.0, 1000.0))
                                   ->capture_default_str());
    broadcastOptions.push_back(
        app.add_option("--duration", options.duration,
                       "Seconds of broadcast (default: the app file's length, else 10)")
            ->check(CLI::PositiveNumber));
    broadcastOptions.push_back(app.add_option("--pause-at", options.pauseAt, "Pause at this broadcast second")
                                   ->check(CLI::PositiveNumber));
    auto* resumeAt = app.add_option("--resume-at", options.resumeAt, "Resume at this broadcast second")
                         ->check(CLI::PositiveNumber);
    broadcastOptions.push_back(resumeAt);
    broadcastOptions.push_back(
        app.add_flag("--finish-with-error", options.finishWithError, "End with finishBroadcastWithError"));
    auto* scenario = app.add_option("--scenario", options.scenarioFile, "Play the steps of this JSON scenario file");
    app.add_option("--container-root", options.containerRoot, "Directory holding the app-group containers");
    app.add_option("--temp-dir", options.tempDir, "Parent of the extension's temporary directory")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--realtime", options.realtime, "Deliver buffers at their presentation times");
    broadcastOptions.push_back(app.add_flag(
        "--live", options.live,
        "Record what this machine's apps play: app and mic sources default to pulse, in real time, until Ctrl-C"));
    app.add_flag("--json", options.json, "Print the summary as JSON");
    app.add_flag("--quiet", options.quiet, "No progress line and no platform log on standard error");
    app.set_version_flag("--version", "broadcast-extension " RECORDER_VERSION, "Print the version and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw HostError(ExitCode::Usage, error.what());
    }

    if (scenario->count() > 0)
        for (const CLI::Option* option : broadcastOptions)
            if (option->count() > 0)
                throw HostError(ExitCode::Usage, option->get_name() + " cannot be combined with --scenario (the "
                                                                      "scenario describes the streams)");
    if (options.live) {
        for (StreamArguments* arguments : {&appArguments, &micArguments})
            if (arguments->options.front()->count() == 0) arguments->source = "pulse";
        options.realtime = true;
    }
    options.app = buildStream(appArguments, "app");
    options.mic = buildStream(micArguments, "mic");
    const auto isLive = [](const std::optional<AudioStreamPlan>& stream) {
        return stream && stream->source.kind == SourceDescription::Kind::Pulse;
    };
    if (options.pauseAt && (isLive(options.app) || isLive(options.mic)))
        throw HostError(ExitCode::Usage, "--pause-at cannot be used with a live source (the sound server does not pause)");
    if (options.resumeAt && !options.pauseAt) throw HostError(ExitCode::Usage, "--resume-at needs --pause-at");
    if (options.pauseAt && options.resumeAt && *options.resumeAt <= *options.pauseAt)
        throw HostError(ExitCode::Usage, "--resume-at must come after --pause-at");
    const bool untilAppEnds = !options.duration && options.app && options.app->source.finite();
    if (!untilAppEnds && !options.live) {
        const double duration = options.duration.value_or(kDefaultDurationSeconds);
        const double last = options.resumeAt.value_or(options.pauseAt.value_or(0));
        if (last >= duration)
            throw HostError(ExitCode::Usage, "--pause-at and --resume-at must fall within --duration");
    }
    return options;
}

}  // namespace host
