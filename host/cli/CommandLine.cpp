#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "host/HostError.h"
#include "host/scenario/ScenarioParser.h"
#include "toolkit/CommandLineStyle.h"

namespace host {
namespace {

toolkit::HelpPage helpPage() {
    return {
        "Plays a broadcast to the upload extension and summarises its recording.",
        {
            {"broadcast-extension", "Ten seconds of a melody as app audio, recorded and summarised."},
            {"broadcast-extension --app-source file:song.flac --json",
             "Delivers a sound file as the service delivers app audio; a JSON summary."},
            {"broadcast-extension --app-format f32le --app-rate 48000 --realtime",
             "Ten seconds of 32-bit float app audio at 48 kHz, delivered in real time."},
            {"broadcast-extension --scenario two-broadcasts.json",
             "Plays the host's calls as a scenario file spells them out."},
            {"broadcast-extension --live",
             "Records what this machine's apps play until Ctrl-C, which finishes the broadcast and hands the "
             "recording over."},
        },
        {
            {0, "every broadcast that ended left its recording"},
            {1, "internal failure"},
            {2, "bad command line (unknown option, bad value, an encoding that is not linear PCM)"},
            {3, "bad source or unreadable sound file"},
            {4, "bad scenario"},
            {5, "a broadcast ended without producing NewRecording.wav"},
            {6, "container root or temporary directory unusable"},
            {7, "the sound server went away mid-broadcast (what was recorded is handed over)"},
            {8, "a recording was handed over but cut short (full disk, file-size limit)"},
            {130, "a second SIGINT or SIGTERM aborted the broadcast"},
        },
    };
}

std::string number(double value) {
    std::ostringstream text;
    text.precision(12);
    text << value;
    return text.str();
}

struct StreamArguments {
    std::string source;
    std::string format;
    double rate = 0;
    uint32_t channels = 0;
    uint32_t frames = 0;
    bool nonInterleaved = false;
    std::vector<CLI::Option*> options;
};

// --PREFIX-source in Sources, the rest of the stream's options in `group`.
void addStreamOptions(CLI::App& app, const std::string& prefix, const std::string& group, const std::string& what,
                      const AudioStreamPlan& defaults, const std::string& sourceHelp, StreamArguments& arguments) {
    const AudioEncoding& encoding = defaults.encoding;
    arguments.source = defaults.source.text;
    arguments.format = sampleLayoutName(encoding.layout);
    arguments.rate = encoding.sampleRate;
    arguments.channels = encoding.channels;
    arguments.frames = encoding.framesPerBuffer;
    const std::string option = "--" + prefix + "-";
    auto& o = arguments.options;
    o.push_back(app.add_option(option + "source", arguments.source, sourceHelp)->type_name("SOURCE")->group("Sources"));
    o.push_back(app.add_option(option + "format", arguments.format,
                               "Sample format of " + what + ": s8, s16le, s16be, s24le, s24be, s32le, s32be, f32le, "
                               "f32be, f64le or f64be (default: " + arguments.format + ")")
                    ->type_name("FORMAT")
                    ->group(group));
    o.push_back(app.add_option(option + "rate", arguments.rate,
                               "Frames a second, fractions allowed (default: " + number(arguments.rate) + ")")
                    ->type_name("HZ")
                    ->check(toolkit::numberWithin(1, kMaxSampleRate, "Hz"))
                    ->group(group));
    o.push_back(app.add_option(option + "channels", arguments.channels,
                               "Channels (default: " + std::to_string(arguments.channels) + ")")
                    ->type_name("N")
                    ->check(toolkit::numberWithin(1, kMaxChannels, "channels", false, true))
                    ->group(group));
    o.push_back(app.add_option(option + "frames", arguments.frames,
                               "Frames in each buffer (default: " + std::to_string(arguments.frames) + ")")
                    ->type_name("N")
                    ->check(toolkit::numberWithin(1, kMaxFramesPerBuffer, "frames", false, true))
                    ->group(group));
    o.push_back(app.add_flag(option + "noninterleaved", arguments.nonInterleaved,
                             "Deliver one block per channel (default: interleaved)")
                    ->group(group));
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
    CLI::App app{"", "broadcast-extension"};
    toolkit::useHouseStyle(app, helpPage());
    HostOptions options;
    StreamArguments appArguments;
    StreamArguments micArguments;
    const CLI::Validator seconds = toolkit::numberWithin(0, kMaxSpanSeconds, "seconds", true);

    // Sources, then one group per stream; the options that describe the
    // broadcast are collected to refuse them beside --scenario.
    addStreamOptions(app, "app", "App audio", "app audio", defaultAppStream(),
                     "App audio: sine:FREQ, tones (a melody), noise[:SEED], silence, file:PATH (any sound file "
                     "libsndfile reads), - (raw PCM on standard input in the stream's format, or "
                     "-:FORMAT:RATE:CHANNELS), pulse[:SOURCE] (live from the sound server; default: the default "
                     "sink's monitor) or none (default: tones)",
                     appArguments);
    addStreamOptions(app, "mic", "Microphone", "microphone audio", defaultMicStream(),
                     "Microphone audio, from the same sources; pulse without a SOURCE is the default source "
                     "(default: sine:220)", micArguments);
    auto* scenario = app.add_option("--scenario", options.scenarioFile,
                                    "Play the host's calls from this JSON scenario file instead of the one broadcast "
                                    "the other options describe (default: none)")
                         ->type_name("FILE")
                         ->group("Sources");
    std::vector<CLI::Option*> broadcastOptions = appArguments.options;
    broadcastOptions.insert(broadcastOptions.end(), micArguments.options.begin(), micArguments.options.end());
    broadcastOptions.push_back(app.add_option("--video-rate", options.videoRate,
                                              "Video buffers a second, 0 for none (default: 30)")
                                   ->type_name("N")
                                   ->check(toolkit::numberWithin(0, 1000, "buffers a second"))
                                   ->group("Video"));
    broadcastOptions.push_back(app.add_option("--duration", options.duration,
                                              "Length of the broadcast (default: as long as the app file or standard "
                                              "input, until Ctrl-C with --live, else 10 seconds)")
                                   ->type_name("SECONDS")
                                   ->check(seconds)
                                   ->group("Broadcast"));
    broadcastOptions.push_back(app.add_option("--pause-at", options.pauseAt,
                                              "Pause the broadcast at this second (default: no pause)")
                                   ->type_name("SECONDS")
                                   ->check(seconds)
                                   ->group("Broadcast"));
    broadcastOptions.push_back(app.add_option("--resume-at", options.resumeAt,
                                              "Resume it at this second (default: paused to the end)")
                                   ->type_name("SECONDS")
                                   ->check(seconds)
                                   ->group("Broadcast"));
    broadcastOptions.push_back(app.add_flag("--finish-with-error", options.finishWithError,
                                            "End with finishBroadcastWithError (default: broadcastFinished)")
                                   ->group("Broadcast"));
    app.add_flag("--realtime", options.realtime,
                 "Deliver each buffer at its presentation time (default: as fast as possible)")
        ->group("Broadcast");
    broadcastOptions.push_back(app.add_flag("--live", options.live,
                                            "Record what this machine's apps play: app and mic sources default to "
                                            "pulse, in real time, until Ctrl-C (default: off)")
                                   ->group("Sources"));
    app.add_option("--container-root", options.containerRoot,
                   "Directory holding the app-group containers (default: $APP_GROUP_CONTAINER_ROOT, else "
                   "$XDG_DATA_HOME/app-groups, else ~/.local/share/app-groups)")
        ->type_name("DIR")
        ->group("Files");
    app.add_option("--temp-dir", options.tempDir,
                   "Parent of the extension's temporary directory, where the recording grows until it is handed "
                   "over (default: $TMPDIR, else $XDG_CACHE_HOME, else ~/.cache: on disk, where /tmp is often in "
                   "memory, and usually on the containers' filesystem, so the hand-over is a link, not a copy)")
        ->type_name("DIR")
        ->group("Files");
    app.add_flag("--json", options.json, "Print the summary as JSON (default: text)")->group("Output");
    app.add_flag("--quiet", options.quiet,
                 "No progress line and no platform log on standard error (default: the log, and a progress line "
                 "when standard error is a terminal)")
        ->group("Output");
    app.set_version_flag("--version", "broadcast-extension " RECORDER_VERSION, "Print the version and exit")
        ->group("Output");
    app.get_help_ptr()->group("Output");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        throw HostError(ExitCode::Usage, toolkit::describeParseError(app, error));
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
