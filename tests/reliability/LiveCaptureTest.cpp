// Live capture against a private sound server each test starts: PulseAudio, and PipeWire with its
// PulseAudio server (each on a private session bus in the test's own folder); a server that cannot
// start makes the test a skip. Apps play with paplay; recordings are checked by their tones.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/HostProcess.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

enum class Server { PulseAudio, PipeWire };

bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null").c_str()) == 0;
}

bool listens(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

class Live : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        const bool pulse = GetParam() == Server::PulseAudio;
        for (const char* program : {pulse ? "pulseaudio" : "pipewire", pulse ? "paplay" : "wireplumber", "pactl",
                                    "parec", "dbus-daemon", "sox"})
            if (!installed(program)) GTEST_SKIP() << program << " is not installed";
        for (const char* folder : {"run", "home", "config", "state", "tmp", "groups"})
            fs::create_directories(temp / folder);
        fs::permissions(temp / "run", fs::perms::owner_all);
        environment = {{"XDG_RUNTIME_DIR", temp / "run"},
                       {"HOME", temp / "home"},
                       {"XDG_CONFIG_HOME", temp / "config"},
                       {"XDG_STATE_HOME", temp / "state"},
                       {"PIPEWIRE_RUNTIME_DIR", temp / "run"},
                       {"PULSE_STATE_PATH", temp / "state"},
                       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + temp / "run/bus"},
                       {"PULSE_SERVER", "unix:" + temp / (pulse ? "run/native" : "run/pulse/native")}};
        if (pulse) environment.emplace_back("PULSE_RUNTIME_PATH", temp / "run");  // PipeWire's goes in run/pulse
        start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=unix:path=" + temp / "run/bus"});
        for (int i = 0; i < 100 && !listens(temp / "run/bus"); ++i) std::this_thread::sleep_for(20ms);
        if (pulse) {
            std::ofstream(temp / "server.pa")
                << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << temp / "run/native"
                << "\nload-module module-null-sink sink_name=apps rate=44100 channels=2\n";
            start("pulseaudio",
                  {"--daemonize=no", "--exit-idle-time=-1", "-n", "-F", temp / "server.pa", "--log-level=error"});
        } else {
            start("pipewire", {});  // its session manager gives up when it finds no PipeWire yet
            for (int i = 0; i < 100 && !listens(temp / "run/pipewire-0"); ++i) std::this_thread::sleep_for(20ms);
            start("wireplumber", {});
            start("pipewire-pulse", {});
        }
        // PipeWire answers before its session manager is ready to make and choose the sink, and
        // makes the choice the default (what "@DEFAULT_SINK@" names) a moment after it is asked.
        bool sink = pulse, ready = false;
        for (int i = 0; i < 100 && !ready; ++i) {
            sink = sink || pactl({"load-module", "module-null-sink", "sink_name=apps"});
            std::string chosen;
            ready = sink && pactl({"set-default-sink", "apps"}) && pactl({"get-default-sink"}, &chosen) &&
                    chosen.starts_with("apps");
            if (!ready) std::this_thread::sleep_for(100ms);
        }
        if (!ready) GTEST_SKIP() << "the private sound server did not start";
    }
    void TearDown() override {
        for (StartedHost& child : children)  // SIGKILL, as a crashing server goes
            if (::kill(child.pid, SIGKILL) == 0) finishHost(child);
    }

    void start(const std::string& program, std::vector<std::string> arguments) {
        children.push_back(
            startHost({.arguments = std::move(arguments), .program = program, .environment = environment}));
    }
    // The server's own process (what crashes or freezes).
    pid_t serverPid() const { return children.back().pid; }
    bool pactl(std::vector<std::string> arguments, std::string* output = nullptr) const {
        const HostRun run =
            runHost({.arguments = std::move(arguments), .program = "pactl", .environment = environment});
        if (output != nullptr) *output = run.standardOutput;
        return run.exitStatus == 0;
    }
    // A sound file made by sox from its synth `effects`, 44.1 kHz.
    std::string sound(const std::string& name, int channels, std::vector<std::string> effects) const {
        std::vector<std::string> arguments{"-n", "-r", "44100",    "-c", std::to_string(channels),
                                           "-b", "16", temp / name};
        arguments.insert(arguments.end(), effects.begin(), effects.end());
        EXPECT_EQ(runHost({.arguments = arguments, .program = "sox"}).exitStatus, 0);
        return temp / name;
    }
    StartedHost play(const std::string& file, const std::string& client, const std::string& sink = "apps") const {
        return startHost({.arguments = {"-d", sink, "--client-name=" + client, file},
                          .program = "paplay",
                          .environment = environment});
    }
    // The host recording into a container root of its own, `name`.
    HostLaunch host(const std::string& name, std::vector<std::string> arguments) const {
        arguments.insert(arguments.end(), {"--container-root", temp / ("groups/" + name), "--temp-dir", temp / "tmp"});
        return {.arguments = std::move(arguments), .environment = environment};
    }
    std::string recording(const std::string& name) const {
        return temp / ("groups/" + name + "/group.tolvix/NewRecording.wav");
    }

    TempDirectory temp;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<StartedHost> children;
};

std::string serverName(const ::testing::TestParamInfo<Server>& info) {
    return info.param == Server::PulseAudio ? "PulseAudio" : "PipeWire";
}

INSTANTIATE_TEST_SUITE_P(Servers, Live, ::testing::Values(Server::PulseAudio, Server::PipeWire), serverName);

// The first frame where the first channel reaches `level` of full scale.
size_t firstLoud(const Recording& r, double level) {
    for (size_t i = 0; i < static_cast<size_t>(r.info.frames); ++i)
        if (std::abs(r.at(i) / 2147483648.0) > level) return i;
    return static_cast<size_t>(r.info.frames);
}

TEST_P(Live, WhatAppsPlayComesBackWithItsPitchAndLevelAndNoGap) {
    const std::string tone = sound("tone.wav", 2, {"synth", "3", "sine", "1000", "gain", "-6"});
    StartedHost recorder = startHost(host("monitor", {"--app-source", "pulse:apps.monitor", "--app-frames", "4410",
                                                      "--mic-source", "none", "--duration", "7", "--quiet"}));
    std::this_thread::sleep_for(2500ms);  // a PulseAudio null sink's monitor takes a moment to start sending
    ASSERT_EQ(finishHost(play(tone, "player")).exitStatus, 0);
    const HostRun run = finishHost(recorder);
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const Recording r = readRecording(recording("monitor"));
    const size_t first = firstLoud(r, 0.25);
    ASSERT_LT(first + 3 * 44100, static_cast<size_t>(r.info.frames)) << "the tone is not all in the recording";
    // A gap or lost audio inside the tone would show in its level over every tenth of a second.
    for (size_t at = first + 4410; at + 4410 < first + 3 * 44100 - 4410; at += 4410)
        ASSERT_NEAR(toneDb(r, 1000, at, 4410), -6.02, 0.5) << "at frame " << at;
    EXPECT_NEAR(hertz(r, first, first + 3 * 44100 - 4410), 1000, 10);
}

TEST_P(Live, ChosenAppsAloneAreRecorded) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"only", "apps:alpha"}, {"except", "apps-except:alpha"}, {"both", "apps:ALPHA,beta"}};
    std::vector<StartedHost> recorders;
    for (const auto& [name, source] : cases)
        recorders.push_back(startHost(host(name, {"--app-source", source, "--mic-source", "none", "--video-rate", "0",
                                                  "--duration", "6", "--quiet"})));
    std::this_thread::sleep_for(1s);
    StartedHost alpha = play(sound("440.wav", 2, {"synth", "3", "sine", "440", "gain", "-6"}), "alpha");
    StartedHost beta = play(sound("1000.wav", 2, {"synth", "3", "sine", "1000", "gain", "-6"}), "beta");
    finishHost(alpha), finishHost(beta);
    for (size_t i = 0; i < cases.size(); ++i) {
        const HostRun run = finishHost(recorders[i]);
        ASSERT_EQ(run.exitStatus, 0) << cases[i].second << run.standardError;
        const Recording r = readRecording(recording(cases[i].first));
        ASSERT_EQ(r.info.frames, 6 * 44100) << "as long as the broadcast";
        const double a = toneDb(r, 440, 0, 6 * 44100), b = toneDb(r, 1000, 0, 6 * 44100);
        const double apart[] = {a - b, b - a, 43 - std::abs(a - b)};  // apps:ALPHA,beta holds both alike
        EXPECT_GT(apart[i], 40) << cases[i].second << ": 440 Hz at " << a << " dB, 1000 Hz at " << b << " dB";
        EXPECT_GT(std::max(a, b), -20) << cases[i].second;
    }
}

// The JSON lines of `text`.
std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

TEST_P(Live, FollowRecordsABroadcastForEachTimeTheAppPlays) {
    if (!installed(CONTAINING_APP)) GTEST_SKIP() << "no containing-app";
    const std::string tone = sound("440.wav", 2, {"synth", "2", "sine", "440", "gain", "-6"});
    StartedHost app =
        startHost({.arguments = {"--container-root", temp / "groups/follow", "--keep", temp / "kept", "--json"},
                   .program = CONTAINING_APP,
                   .environment = environment});
    std::this_thread::sleep_for(500ms);
    StartedHost follower =
        startHost(host("follow", {"--follow", "--app-source", "apps:alpha", "--idle", "1", "--json"}));
    std::this_thread::sleep_for(1500ms);
    StartedHost first = play(tone, "alpha");
    std::this_thread::sleep_for(1s);
    const HostRun listing = runHost(host("list", {"--list-sources", "--json"}));
    finishHost(first);
    std::this_thread::sleep_for(2500ms);  // longer than --idle: the first broadcast ends
    finishHost(play(tone, "alpha"));
    std::this_thread::sleep_for(2500ms);
    ::kill(follower.pid, SIGINT);
    const HostRun run = finishHost(follower);
    ::kill(app.pid, SIGINT);
    const HostRun kept = finishHost(app);

    EXPECT_NE(listing.standardOutput.find("{\"name\":\"alpha\""), std::string::npos) << listing.standardOutput;
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const nlohmann::json summary = nlohmann::json::parse(run.standardOutput);
    ASSERT_EQ(summary["broadcasts"].size(), 2u) << run.standardOutput;
    std::vector<std::string> events;
    for (const nlohmann::json& line : jsonLines(kept.standardOutput)) events.push_back(line["event"]);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "end", "start", "end"})) << kept.standardOutput;
    size_t recordings = 0;
    for (const auto& file : fs::directory_iterator(temp / "kept")) {
        const Recording r = readRecording(file.path());
        EXPECT_GT(toneDb(r, 440, 0, static_cast<size_t>(r.info.frames)), -12) << "its own 2 s of the tone";
        EXPECT_LT(r.info.frames, 5 * 44100) << "one session, not both";
        ++recordings;
    }
    EXPECT_EQ(recordings, 2u);
}

TEST_P(Live, AStopEndsTheRecordingWhereTheServerHadCapturedItAndNoMicrophoneIsOpened) {
    ASSERT_TRUE(pactl({"load-module", "module-remap-source", "master=apps.monitor", "source_name=mic"}));
    ASSERT_TRUE(pactl({"set-default-source", "mic"}));
    const std::string burst = sound(
        "burst.wav", 2, {"synth", "0.2", "whitenoise", "gain", "-3", ":", "synth", "5", "sine", "440", "gain", "-20"});
    StartedHost reference =
        startHost({.arguments = {"-d", "apps.monitor", "--latency-msec=20", "--format=s16le", "--rate=44100",
                                 "--channels=2", "--file-format=wav", temp / "ref.wav"},
                   .program = "parec",
                   .environment = environment});
    StartedHost recorder = startHost(host("stop", {"--live", "--app-format", "s16le", "--quiet"}));
    std::this_thread::sleep_for(2500ms);
    StartedHost player = play(burst, "player");
    std::this_thread::sleep_for(1500ms);
    std::string outputs, sources;
    pactl({"list", "short", "source-outputs"}, &outputs);
    pactl({"list", "short", "sources"}, &sources);
    ::kill(reference.pid, SIGINT);
    ::kill(recorder.pid, SIGINT);
    const HostRun run = finishHost(recorder);
    finishHost(reference);
    ::kill(player.pid, SIGKILL);
    finishHost(player);

    ASSERT_EQ(run.exitStatus, 0) << run.standardError;
    const std::string mic = sources.substr(0, sources.find("\tmic\t"));
    const std::string micIndex = mic.substr(mic.rfind('\n') + 1);
    std::istringstream lines(outputs);
    for (std::string line; std::getline(lines, line);)
        EXPECT_NE(line.substr(line.find('\t') + 1, micIndex.size() + 1), micIndex + "\t") << "--live opened " << line;
    const Recording ours = readRecording(recording("stop")), theirs = readRecording(temp / "ref.wav");
    const auto tail = [](const Recording& r) {
        return (r.info.frames - static_cast<double>(firstLoud(r, 0.3))) / 44100;
    };
    ASSERT_LT(firstLoud(theirs, 0.3), static_cast<size_t>(theirs.info.frames)) << "the reference holds the burst";
    EXPECT_NEAR(tail(ours), tail(theirs), 0.05) << "seconds after the burst at which each recording ends";
}

TEST_P(Live, EverySpeakerLandsInTheSlotItsMaskNames) {
    const std::vector<std::pair<std::string, std::string>> layouts = {
        {"five", "front-left,front-right,front-center,lfe,rear-left,rear-right"},
        {"quad", "front-left,front-right,rear-left,rear-right"}};
    const std::vector<double> tones = {300, 500, 700, 900, 1100, 1300};
    std::vector<StartedHost> recorders;
    for (const auto& [sink, map] : layouts) {
        const std::string channels = std::to_string(std::count(map.begin(), map.end(), ',') + 1);
        ASSERT_TRUE(pactl(
            {"load-module", "module-null-sink", "sink_name=" + sink, "channels=" + channels, "channel_map=" + map}));
        recorders.push_back(startHost(host(sink, {"--app-source", "pulse:" + sink + ".monitor", "--app-channels",
                                                  channels, "--mic-source", "none", "--duration", "6", "--quiet"})));
    }
    std::this_thread::sleep_for(2s);
    std::vector<StartedHost> players;
    for (const auto& [sink, map] : layouts) {
        const int channels = static_cast<int>(std::count(map.begin(), map.end(), ',') + 1);
        std::vector<std::string> effects{"synth", "3"};
        for (int c = 0; c < channels; ++c) effects.insert(effects.end(), {"sine", std::to_string(tones[c])});
        effects.insert(effects.end(), {"gain", "-12"});
        players.push_back(play(sound(sink + ".wav", channels, effects), "player", sink));
    }
    for (StartedHost& player : players) finishHost(player);
    for (size_t layout = 0; layout < layouts.size(); ++layout) {
        ASSERT_EQ(finishHost(recorders[layout]).exitStatus, 0);
        const Recording r = readRecording(recording(layouts[layout].first));
        const size_t first = firstLoud(r, 0.1) + 11025;
        for (int slot = 0; slot < r.info.channels; ++slot)
            for (int tone = 0; tone < r.info.channels; ++tone)
                EXPECT_EQ(toneDb(r, tones[tone], first, 44100, slot) > -20, slot == tone)
                    << layouts[layout].first << ": slot " << slot << ", tone of channel " << tone;
    }
}

// A source that delivers nothing: the broadcast keeps the wall clock, counts the loss and says so.
TEST_P(Live, ASourceThatDeliversNothingEndsOnTimeCountsTheLossAndStopsAtOnce) {
    struct Case {
        std::string name;
        bool suspend;  // the sink, before the broadcast (PulseAudio; PipeWire ignores it)
        bool stopped;  // Ctrl-C while nothing arrives
    };
    for (const Case& c :
         {Case{"frozen", false, false}, Case{"frozen-stopped", false, true}, Case{"suspended", true, false}}) {
        if (c.suspend && GetParam() == Server::PipeWire) continue;
        ASSERT_TRUE(!c.suspend || pactl({"suspend-sink", "apps", "1"}));
        const auto began = Clock::now();
        StartedHost recorder = startHost(host(c.name, {"--app-source", "pulse:apps.monitor", "--mic-source", "none",
                                                       "--duration", c.stopped ? "60" : "5", "--json"}));
        if (!c.suspend) {
            std::this_thread::sleep_for(2500ms);
            ::kill(serverPid(), SIGSTOP);
        }
        if (c.stopped) {
            std::this_thread::sleep_for(3500ms);  // past twice the fragment since the last one came
            ::kill(recorder.pid, SIGINT);
        }
        const auto asked = Clock::now();
        const HostRun run = finishHost(recorder);
        ::kill(serverPid(), SIGCONT);
        if (c.suspend) pactl({"suspend-sink", "apps", "0"});
        ASSERT_EQ(run.exitStatus, 0) << c.name << run.standardError;
        EXPECT_NE(run.standardError.find("delivered nothing from source \"apps.monitor\""), std::string::npos)
            << c.name << run.standardError;
        const nlohmann::json broadcast = nlohmann::json::parse(run.standardOutput)["broadcasts"][0];
        EXPECT_GE(broadcast["secondsLost"].get<double>(), 1.0) << c.name;
        EXPECT_LT(Clock::now() - (c.stopped ? asked : began), c.stopped ? 1500ms : 9000ms)
            << c.name << ": Ctrl-C finishes at once, and the broadcast ends at its duration";
        EXPECT_GT(broadcast["recording"]["durationSeconds"].get<double>(), c.stopped ? 2 : 4.9) << c.name;
    }
}

TEST_P(Live, AServerThatCannotRecordStopsTheHostBeforeTheExtensionSeesACall) {
    const struct {
        std::string server, source, mentions;
    } cases[] = {{temp / "nothing", "pulse", "default sink's monitor"},
                 {"", "pulse:no.such.source", "no source named \"no.such.source\""},
                 {"", "pulse:my source", "no source named \"my source\""}};
    for (const auto& c : cases) {
        HostLaunch launch = host("refused", {"--app-source", c.source, "--duration", "1"});
        if (!c.server.empty()) launch.environment.emplace_back("PULSE_SERVER", "unix:" + c.server);
        const HostRun run = runHost(launch);
        EXPECT_EQ(run.exitStatus, 3) << run.standardError;
        EXPECT_NE(run.standardError.find(c.server), std::string::npos) << run.standardError;
        EXPECT_NE(run.standardError.find(c.mentions), std::string::npos) << run.standardError;
        EXPECT_EQ(run.standardOutput, "");
        EXPECT_TRUE(fs::is_empty(temp / "tmp")) << "the extension was called";
    }
}

TEST_P(Live, AServerThatDiesMidBroadcastLeavesWhatWasRecorded) {
    StartedHost recorder = startHost(host("dies", {"--live", "--app-frames", "4410", "--quiet"}));
    std::this_thread::sleep_for(4s);
    ::kill(serverPid(), SIGKILL);
    const HostRun run = finishHost(recorder);
    EXPECT_EQ(run.exitStatus, 7) << run.standardError;
    EXPECT_NE(run.standardError.find("warning: the broadcast ended early: the sound server"), std::string::npos)
        << run.standardError;
    EXPECT_NE(run.standardOutput.find("Broadcast 1 (finished)"), std::string::npos) << run.standardOutput;
    EXPECT_GE(readRecording(recording("dies")).info.frames, 4410) << "what was recorded is handed over";
}

}  // namespace
