// Live sources against a real sound server, started by the test itself: what
// apps play comes back with its pitch, level and no gap; a server that is
// missing, refuses, or lacks the source stops the host before the extension
// sees a call; a server that dies mid-broadcast leaves what was recorded.

#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

#include "SoundServer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using notifytest::Child;
using testing_support::SoundServer;
using testing_support::TempDirectory;

struct Finished {
    int status = -1;
    std::string out, err;
};

Finished finish(Child& host, std::chrono::seconds timeout = 60s) {
    Finished f;
    while (auto line = host.readLine(timeout)) f.out += *line + "\n";
    while (auto line = host.readErrorLine(1s)) f.err += *line + "\n";
    f.status = host.wait(timeout);
    return f;
}

// Interleaved samples of a recording as doubles, and its channel count.
std::vector<double> readSamples(const std::string& path, int& channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<double> samples(static_cast<size_t>(info.frames * info.channels));
    sf_read_double(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    channels = info.channels;
    return samples;
}

class LiveSource : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.started()) GTEST_SKIP() << server.problem();
        fs::create_directories(temp / "tmp");
    }
    std::vector<std::string> host(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), BROADCAST_EXTENSION_PROGRAM);
        arguments.insert(arguments.end(), {"--container-root", temp / "containers", "--temp-dir", temp / "tmp"});
        return arguments;
    }
    std::string shared() const { return temp / "containers/group.tolvix/NewRecording.wav"; }

    TempDirectory temp;
    SoundServer server;
};

TEST_F(LiveSource, WhatAppsPlayComesBackWithItsPitchAndLevelAndNoGap) {
    const std::string paplay = testing_support::findProgram("paplay");
    if (paplay.empty()) GTEST_SKIP() << "paplay is not installed";
    constexpr int kRate = 44100, kFrequency = 1000, kFrames = 4410;
    constexpr double kAmplitude = 0.5, kSeconds = 3;
    {
        SF_INFO info{0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* tone = sf_open((temp / "tone.wav").c_str(), SFM_WRITE, &info);
        std::vector<double> frames(static_cast<size_t>(kSeconds * kRate) * 2);
        for (size_t i = 0; i < frames.size(); ++i)
            frames[i] = kAmplitude * std::sin(2 * M_PI * kFrequency * static_cast<double>(i / 2) / kRate);
        sf_writef_double(tone, frames.data(), static_cast<sf_count_t>(frames.size() / 2));
        sf_close(tone);
    }
    Child recorder(host({"--app-source", "pulse:apps.monitor", "--app-format", "s16le", "--app-rate", "44100",
                         "--app-channels", "2", "--app-frames", std::to_string(kFrames), "--mic-source", "none",
                         "--video-rate", "0", "--duration", "8", "--quiet"}));
    std::this_thread::sleep_for(2500ms);  // the null sink's monitor takes a moment to start sending
    Child player({paplay, "-d", "apps", temp / "tone.wav"});
    ASSERT_EQ(player.wait(30s), 0);
    const Finished run = finish(recorder);
    ASSERT_EQ(run.status, 0) << run.err;

    int channels = 0;
    const std::vector<double> samples = readSamples(shared(), channels);
    ASSERT_EQ(channels, 2);
    std::vector<double> left;
    for (size_t i = 0; i < samples.size(); i += 2) left.push_back(samples[i]);
    size_t first = left.size(), last = 0;
    for (size_t i = 0; i < left.size(); ++i)
        if (std::abs(left[i]) > kAmplitude / 2) first = std::min(first, i), last = i;
    ASSERT_LT(first, last) << "the tone is not in the recording";
    // Lost audio would shorten the tone; silence inside it would be a gap. (A monitor source itself
    // misses up to its latency at the start of a playback, which one buffer covers.)
    EXPECT_NEAR(static_cast<double>(last - first), kSeconds * kRate, kFrames) << "audio was lost";
    size_t quiet = 0, longestQuiet = 0, crossings = 0;
    double energy = 0;
    for (size_t i = first; i <= last; ++i) {
        quiet = std::abs(left[i]) < 1e-3 ? quiet + 1 : 0;
        longestQuiet = std::max(longestQuiet, quiet);
        if (i > first && left[i - 1] < 0 && left[i] >= 0) ++crossings;
        energy += left[i] * left[i];
    }
    EXPECT_LE(longestQuiet, static_cast<size_t>(kFrames)) << "a gap while the tone played";
    const double seconds = static_cast<double>(last - first) / kRate;
    const double frequency = crossings / seconds;
    const double levelError = 20 * std::log10(std::sqrt(energy / static_cast<double>(last - first + 1)) /
                                              (kAmplitude / std::sqrt(2.0)));
    std::printf("measured: %.3f Hz for %d Hz, level %+.4f dB, tone %zu frames for %.0f, longest quiet run %zu\n",
                frequency, kFrequency, levelError, last - first, kSeconds * kRate, longestQuiet);
    EXPECT_NEAR(frequency, kFrequency, kFrequency * 0.01);
    EXPECT_NEAR(levelError, 0, 1) << "level in dB";
}

TEST_F(LiveSource, AServerThatCannotRecordStopsTheHostBeforeTheExtensionSeesACall) {
    {
        // A socket nobody listens on: connections are refused.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        (temp / "stale").copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    struct Case {
        std::string server, source, mentions;
    } cases[] = {
        {"unix:" + temp / "nothing", "pulse", "default sink's monitor"},
        {"unix:" + temp / "stale", "pulse:apps.monitor", "Connection refused"},
        {server.address(), "pulse:no.such.source", "\"no.such.source\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server + " " + c.source);
        notifytest::ScopedEnv pulseServer("PULSE_SERVER", c.server.c_str());
        Child recorder(host({"--app-source", c.source, "--duration", "1"}));
        const Finished run = finish(recorder);
        EXPECT_EQ(run.status, 3) << run.err;
        EXPECT_NE(run.err.find(c.server.substr(5)), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.mentions), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(fs::exists(temp / ("tmp/broadcast-extension-" + std::to_string(::geteuid()) + "/tempfile.wav")))
            << "the extension was called";
    }
}

TEST_F(LiveSource, AServerThatDiesMidBroadcastLeavesWhatWasRecorded) {
    Child recorder(host({"--live", "--app-frames", "4410", "--quiet"}));
    std::this_thread::sleep_for(4s);
    server.kill();
    const Finished run = finish(recorder);
    EXPECT_EQ(run.status, 7) << run.err;
    EXPECT_NE(run.err.find("warning: the broadcast ended early: the sound server"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Broadcast 1 (finished)"), std::string::npos) << run.out;
    int channels = 0;
    EXPECT_GE(readSamples(shared(), channels).size(), 4410u * 2) << "what was recorded is handed over";
}

}  // namespace
