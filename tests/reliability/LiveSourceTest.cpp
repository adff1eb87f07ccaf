// Live sources against a private sound server that each test starts: what
// apps play comes back with its pitch, level and no gap; a server that is
// missing or lacks the source stops the host before the extension sees a
// call; a server that dies mid-broadcast leaves what was recorded.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/HostProcess.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace testing_support;

bool installed(const std::string& program) { return std::system(("command -v " + program + " >/dev/null").c_str()) == 0; }

bool listens(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// A private PulseAudio in the foreground with its own configuration: an
// anonymous unix socket and its state in the test's directory, and a null
// sink "apps" whose monitor the host records. Works as root.
class LiveSource : public ::testing::Test {
protected:
    void SetUp() override {
        if (!installed("pulseaudio")) GTEST_SKIP() << "pulseaudio is not installed";
        HostLaunch launch;
        launch.program = "pulseaudio";
        std::ofstream(temp / "server.pa") << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                                          << temp / "native" << "\n"
                                          << "load-module module-null-sink sink_name=apps rate=44100 channels=2\n";
        launch.arguments = {"--daemonize=no", "--exit-idle-time=-1", "-n", "-F", temp / "server.pa", "--log-level=error"};
        for (const char* name : {"XDG_RUNTIME_DIR", "HOME", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH"})
            launch.environment.emplace_back(name, temp.path());
        server = startHost(launch);
        for (int i = 0; i < 200 && !listens(temp / "native"); ++i) {
            if (::kill(server.pid, 0) != 0 || i == 199) GTEST_SKIP() << "the private pulseaudio did not start";
            std::this_thread::sleep_for(50ms);
        }
        fs::create_directories(temp / "tmp");
    }
    void TearDown() override { stopServer(); }
    void stopServer() {  // SIGKILL, as a crashing server goes
        if (server.pid <= 0) return;
        ::kill(server.pid, SIGKILL);
        finishHost(server);
        server.pid = -1;
    }

    HostLaunch host(std::vector<std::string> arguments, const std::string& pulseServer = "") const {
        HostLaunch launch;
        launch.arguments = std::move(arguments);
        launch.arguments.insert(launch.arguments.end(), {"--container-root", temp / "containers", "--temp-dir", temp / "tmp"});
        launch.environment = {{"PULSE_SERVER", pulseServer.empty() ? "unix:" + temp / "native" : pulseServer}};
        return launch;
    }
    std::string shared() const { return temp / "containers/group.tolvix/NewRecording.wav"; }

    TempDirectory temp;
    StartedHost server;
};

TEST_F(LiveSource, WhatAppsPlayComesBackWithItsPitchAndLevelAndNoGap) {
    if (!installed("paplay")) GTEST_SKIP() << "paplay is not installed";
    constexpr int kRate = 44100, kHertz = 1000, kFrames = 4410, kSeconds = 3;
    constexpr double kAmplitude = 16384;  // half of full scale
    std::vector<int16_t> tone(kSeconds * kRate * 2);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(kAmplitude * std::sin(2 * M_PI * kHertz * (i / 2) / kRate));
    std::ofstream(temp / "tone.raw").write(reinterpret_cast<const char*>(tone.data()), std::streamsize(tone.size() * 2));
    StartedHost recorder = startHost(host({"--app-source", "pulse:apps.monitor", "--app-format", "s16le", "--app-rate",
                                           "44100", "--app-channels", "2", "--app-frames", std::to_string(kFrames),
                                           "--mic-source", "none", "--video-rate", "0", "--duration", "8", "--quiet"}));
    std::this_thread::sleep_for(2500ms);  // the null sink's monitor takes a moment to start sending
    HostLaunch player = host({});
    player.program = "paplay";
    player.arguments = {"--raw", "-d", "apps", "--format=s16le", "--rate=44100", "--channels=2", temp / "tone.raw"};
    ASSERT_EQ(runHost(player).exitStatus, 0);
    const HostRun run = finishHost(recorder);
    ASSERT_EQ(run.exitStatus, 0) << run.standardError;

    const Recording r = readRecording(shared());
    ASSERT_EQ(r.info.channels, 2);
    const auto level = [&](size_t i) { return r.at(i) / 65536.0 / kAmplitude; };  // 1 at the tone's peaks
    size_t first = static_cast<size_t>(r.info.frames), last = 0, quiet = 0, longestQuiet = 0;
    for (size_t i = 0; i < static_cast<size_t>(r.info.frames); ++i)
        if (std::abs(level(i)) > 0.5) first = std::min(first, i), last = i;
    ASSERT_LT(first, last) << "the tone is not in the recording";
    // Lost audio would shorten the tone; silence inside it would be a gap. (A monitor source itself
    // misses up to its latency at the start of a playback, which one buffer covers.)
    EXPECT_NEAR(last - first, kSeconds * kRate, kFrames) << "audio was lost";
    double power = 0;
    for (size_t i = first; i <= last; ++i) {
        quiet = std::abs(level(i)) < 2e-3 ? quiet + 1 : 0;
        longestQuiet = std::max(longestQuiet, quiet);
        power += 2 * level(i) * level(i) / static_cast<double>(last - first + 1);  // 1 for the tone
    }
    EXPECT_LE(longestQuiet, static_cast<size_t>(kFrames)) << "a gap while the tone played";
    EXPECT_NEAR(hertz(r, first, last + 1), kHertz, kHertz * 0.01);
    EXPECT_NEAR(10 * std::log10(power), 0, 1) << "level in dB";
}

TEST_F(LiveSource, AServerThatCannotRecordStopsTheHostBeforeTheExtensionSeesACall) {
    const struct {
        std::string server, source, mentions;
    } cases[] = {
        {temp / "nothing", "pulse", "default sink's monitor"},
        {temp / "native", "pulse:no.such.source", "\"no.such.source\""},
    };
    for (const auto& c : cases) {
        const HostRun run = runHost(host({"--app-source", c.source, "--duration", "1"}, "unix:" + c.server));
        EXPECT_EQ(run.exitStatus, 3) << run.standardError;
        EXPECT_NE(run.standardError.find(c.server), std::string::npos) << run.standardError;
        EXPECT_NE(run.standardError.find(c.mentions), std::string::npos) << run.standardError;
        EXPECT_EQ(run.standardOutput, "");
        EXPECT_TRUE(fs::is_empty(temp / "tmp")) << "the extension was called";
    }
}

TEST_F(LiveSource, AServerThatDiesMidBroadcastLeavesWhatWasRecorded) {
    StartedHost recorder = startHost(host({"--live", "--app-frames", "4410", "--quiet"}));
    std::this_thread::sleep_for(4s);
    stopServer();
    const HostRun run = finishHost(recorder);
    EXPECT_EQ(run.exitStatus, 7) << run.standardError;
    EXPECT_NE(run.standardError.find("warning: the broadcast ended early: the sound server"), std::string::npos)
        << run.standardError;
    EXPECT_NE(run.standardOutput.find("Broadcast 1 (finished)"), std::string::npos) << run.standardOutput;
    EXPECT_GE(readRecording(shared()).info.frames, 4410) << "what was recorded is handed over";
}

}  // namespace
