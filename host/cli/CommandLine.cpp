#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "host/HostError.h"
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
            {"broadcast-extension --scenario examples/two-broadcasts.json",
             "Plays the host's calls as a scenario file spells them out (examples/ of the source tree; installed "
             "in PREFIX/share/doc/broadcast_audio_recorder/examples/)."},
            {"broadcast-extension --live",
             "Records what this machine's apps play until Ctrl-C, which finishes the broadcast and hands the "
             "recording over."},
            {"broadcast-extension --app-source apps:firefox --follow",
             "A broadcast each time Firefox plays, finished after five seconds without sound; --list-sources "
             "names the apps playing now."},
        },
        {
            {"0", "every broadcast that ended left its recording"},
            {"1", "internal failure"},
            {"2", "bad command line (unknown option, bad value, an encoding that is not linear PCM)"},
            {"3", "bad source or unreadable sound file"},
            {"4", "bad scenario (unreadable, not a regular file, too large, malformed, a mistake in a step)"},
            {"5", "a broadcast ended without producing NewRecording.wav"},
            {"6", "container root or temporary directory unusable"},
            {"7", "the sound server went away mid-broadcast (what was recorded is handed over)"},
            {"8", "a recording was handed over but cut short (full disk, file-size limit)"},
            {"9", "a start or end signal never reached the session bus (its daemon was stuck to the end)"},
            {"10", "standard output could not be written"},
            {"128+N",
             "a second SIGINT or SIGTERM aborted a finishing broadcast: 128 plus the signal's number (130 "
             "for SIGINT, 143 for SIGTERM)"},
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
                               "Sample format of " + what +
                                   ": s8, s16le, s16be, s24le, s24be, s32le, s32be, f32le, "
                                   "f32be, f64le or f64be (default: " +
                                   arguments.format + ")")
                    ->type_name("FORMAT")
                    ->group(group));
    o.push_back(app.add_option(option + "rate", arguments.rate,
                               "Frames a second, fractions allowed (default: " + number(arguments.rate) + ")")
                    ->type_name("HZ")
                    ->transform(toolkit::numberWithin(1, kMaxSampleRate, "Hz"))
                    ->group(group));
    o.push_back(app.add_option(option + "channels", arguments.channels,
                               "Channels (default: " + std::to_string(arguments.channels) + ")")
                    ->type_name("N")
                    ->transform(toolkit::numberWithin(1, kMaxChannels, "channels", false, true))
                    ->group(group));
    o.push_back(app.add_option(option + "frames", arguments.frames,
                               "Frames in each buffer (default: " + std::to_string(arguments.frames) + ")")
                    ->type_name("N")
                    ->transform(toolkit::numberWithin(1, kMaxFramesPerBuffer, "frames", false, true))
                    ->group(group));
    o.push_back(app.add_flag(option + "noninterleaved", arguments.nonInterleaved,
                             "Deliver one block per channel (default: interleaved)")
                    ->group(group));
}

// The app and microphone streams' options and --scenario; returns --scenario.
CLI::Option* addSourceOptions(CLI::App& app, HostOptions& options, StreamArguments& appArguments,
                              StreamArguments& micArguments) {
    addStreamOptions(app, "app", "App audio", "app audio", defaultAppStream(),
                     "App audio: sine:FREQ, tones (a melody), noise[:SEED], silence, file:PATH (any sound file "
                     "libsndfile reads), - (raw PCM on standard input in the stream's format, or "
                     "-:FORMAT:RATE:CHANNELS), pulse[:SOURCE] (live from the sound server; default: the default "
                     "sink's monitor), apps:NAME[,NAME...] (live, the playback of the apps named by name, binary "
                     "or pid:N, mixed), apps-except:NAME[,NAME...] (every other app's) or none (default: tones)",
                     appArguments);
    addStreamOptions(app, "mic", "Microphone", "microphone audio", defaultMicStream(),
                     "Microphone audio, from the same sources; pulse without a SOURCE is the default source "
                     "(default: sine:220)",
                     micArguments);
    return app
        .add_option("--scenario", options.scenarioFile,
                    "Play the host's calls from this JSON scenario file (a regular file of at most " +
                        std::to_string(kMaxScenarioBytes >> 20) + " MiB and " + number(kMaxScenarioSteps) +
                        " steps) instead of the one broadcast the other options describe (default: none)")
        ->type_name("FILE")
        ->group("Sources");
}

// The options that shape the one broadcast, which --scenario replaces, are
// returned so that they can be refused beside it.
std::vector<CLI::Option*> addBroadcastOptions(CLI::App& app, HostOptions& options) {
    const CLI::Validator seconds = toolkit::numberWithin(0, kMaxSpanSeconds, "seconds", true);
    std::vector<CLI::Option*> shaping;
    shaping.push_back(
        app.add_option("--video-rate", options.videoRate, "Video buffers a second, 0 for none (default: 30)")
            ->type_name("N")
            ->transform(toolkit::numberWithin(0, 1000, "buffers a second"))
            ->group("Video"));
    shaping.push_back(app.add_option("--duration", options.duration,
                                     "Length of the broadcast (default: as long as the app file or standard input, "
                                     "until Ctrl-C with --live, else 10 seconds)")
                          ->type_name("SECONDS")
                          ->transform(seconds)
                          ->group("Broadcast"));
    shaping.push_back(
        app.add_option("--pause-at", options.pauseAt, "Pause the broadcast at this second (default: no pause)")
            ->type_name("SECONDS")
            ->transform(seconds)
            ->group("Broadcast"));
    shaping.push_back(
        app.add_option("--resume-at", options.resumeAt, "Resume it at this second (default: paused to the end)")
            ->type_name("SECONDS")
            ->transform(seconds)
            ->group("Broadcast"));
    shaping.push_back(app.add_flag("--finish-with-error", options.finishWithError,
                                   "End the broadcast as the service does when it fails: the extension is told of an "
                                   "error and hands the recording over all the same (default: a normal finish)")
                          ->group("Broadcast"));
    app.add_flag("--realtime", options.realtime,
                 "Deliver each buffer at its presentation time (default: as fast as possible)")
        ->group("Broadcast");
    shaping.push_back(app.add_flag("--live", options.live,
                                   "Record what this machine's apps play (the app source defaults to pulse, the "
                                   "default sink's monitor) in real time until Ctrl-C; the microphone stream carries "
                                   "silence and no capture device is opened unless --mic-source names one (default: "
                                   "off)")
                          ->group("Sources"));
    shaping.push_back(app.add_flag("--follow", options.follow,
                                   "With --app-source apps:NAMES or apps-except:NAMES: wait until a chosen app plays, "
                                   "record a broadcast while the apps play, finish it after --idle seconds without "
                                   "sound, and wait for the next, until Ctrl-C (default: off)")
                          ->group("Sources"));
    shaping.push_back(app.add_option("--idle", options.idleSeconds,
                                     "With --follow: the seconds without sound that finish a broadcast (default: 5)")
                          ->type_name("SECONDS")
                          ->transform(seconds)
                          ->group("Sources"));
    app.add_flag("--list-sources", options.listSources,
                 "List what the sound server can record now, its sources and the apps playing, and exit (as JSON "
                 "with --json)")
        ->group("Sources");
    return shaping;
}

// The folders the extension uses, and how the host reports.
void addFolderAndOutputOptions(CLI::App& app, HostOptions& options) {
    app.add_option("--container-root", options.containerRoot,
                   "Directory holding the app-group containers (default: $APP_GROUP_CONTAINER_ROOT, else "
                   "$XDG_DATA_HOME/app-groups, else ~/.local/share/app-groups)")
        ->type_name("DIR")
        ->group("Folders");
    app.add_option("--temp-dir", options.tempDir,
                   "Parent of the extension's temporary directory, where the recording grows until it is handed "
                   "over (default: $TMPDIR, else $XDG_CACHE_HOME, else ~/.cache: on disk, where /tmp is often in "
                   "memory, and usually on the containers' filesystem, so the hand-over is a link, not a copy)")
        ->type_name("DIR")
        ->group("Folders");
    app.add_flag("--json", options.json, "Print the summary as JSON (default: text)")->group("Output");
    app.add_flag("--quiet", options.quiet,
                 "No progress line and no platform log on standard error (default: the log, and a progress line "
                 "when standard error is a terminal)")
        ->group("Output");
    app.set_version_flag("--version", "broadcast-extension " RECORDER_VERSION, "Print the version and exit")
        ->group("Output");
    app.get_help_ptr()->group("Output");
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

// --follow takes an apps source and no fixed length; --idle only goes with it.
void checkFollow(HostOptions& options, bool idleGiven) {
    if (idleGiven && !options.follow) throw HostError(ExitCode::Usage, "--idle needs --follow");
    if (!options.follow) return;
    if (!options.app || options.app->source.kind != SourceDescription::Kind::Apps)
        throw HostError(ExitCode::Usage, "--follow needs --app-source apps:NAMES or apps-except:NAMES");
    if (options.duration || options.pauseAt)
        throw HostError(ExitCode::Usage,
                        "--follow finishes each broadcast when the apps fall silent: it takes no --duration or "
                        "--pause-at");
    options.realtime = true;
}

// What each option allows alone but not beside another: a pause with a live
// source, a resume without a pause or before it, either beyond the broadcast.
void checkPauseAndResume(const HostOptions& options) {
    const auto isLive = [](const std::optional<AudioStreamPlan>& stream) { return stream && stream->source.live(); };
    if (options.pauseAt && (isLive(options.app) || isLive(options.mic)))
        throw HostError(ExitCode::Usage,
                        "--pause-at cannot be used with a live source (the sound server does not pause)");
    if (options.resumeAt && !options.pauseAt) throw HostError(ExitCode::Usage, "--resume-at needs --pause-at");
    if (options.pauseAt && options.resumeAt && *options.resumeAt <= *options.pauseAt)
        throw HostError(ExitCode::Usage, "--resume-at must come after --pause-at");
    const bool untilAppEnds = !options.duration && options.app && options.app->source.finite();
    if (!untilAppEnds && !options.live && !options.follow) {
        const double duration = options.duration.value_or(kDefaultDurationSeconds);
        const double last = options.resumeAt.value_or(options.pauseAt.value_or(0));
        if (last >= duration)
            throw HostError(ExitCode::Usage, "--pause-at and --resume-at must fall within --duration");
    }
}

}  // namespace

std::optional<HostOptions> parseCommandLine(int argc, const char* const* argv, std::ostream& out) {
    CLI::App app{"", "broadcast-extension"};
    toolkit::useHouseStyle(app, helpPage());
    HostOptions options;
    StreamArguments appArguments;
    StreamArguments micArguments;
    const CLI::Option* scenario = addSourceOptions(app, options, appArguments, micArguments);
    std::vector<CLI::Option*> shaping = addBroadcastOptions(app, options);
    shaping.insert(shaping.end(), appArguments.options.begin(), appArguments.options.end());
    shaping.insert(shaping.end(), micArguments.options.begin(), micArguments.options.end());
    addFolderAndOutputOptions(app, options);
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
        for (const CLI::Option* option : shaping)
            if (option->count() > 0)
                throw HostError(ExitCode::Usage, option->get_name() +
                                                     " cannot be combined with --scenario (the "
                                                     "scenario describes the streams)");
    if (options.live) {
        // The extension drops microphone audio: the microphone stream is
        // delivered (as silence) without opening a capture device for nothing.
        if (appArguments.options.front()->count() == 0) appArguments.source = "pulse";
        if (micArguments.options.front()->count() == 0) micArguments.source = "silence";
        options.realtime = true;
    }
    options.app = buildStream(appArguments, "app");
    options.mic = buildStream(micArguments, "mic");
    checkFollow(options, app.get_option("--idle")->count() > 0);
    checkPauseAndResume(options);
    return options;
}

}  // namespace host
