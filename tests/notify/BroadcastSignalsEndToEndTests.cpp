// The whole system seen from another process: broadcast-extension records
// broadcasts while containing-app, a separate process on the same session
// bus, receives the start and end signals and inspects the shared recording;
// and Ctrl-C ends a broadcast the way the service ends one. Run under
// dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "tests/support/TempDirectory.h"

namespace {

using namespace notifytest;
using nlohmann::json;

class BroadcastSeenFromAnotherProcess : public testing::Test {
protected:
    testing_support::TempDirectory dir;
    std::string root = dir / "containers", tmp = dir / "tmp";

    void SetUp() override { std::filesystem::create_directories(tmp); }

    std::unique_ptr<Child> startHost(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp});
        return std::make_unique<Child>(arguments);
    }

    // containing-app for `count` end signals, once it listens.
    std::unique_ptr<Child> startApp(int count) const {
        auto app = std::make_unique<Child>(std::vector<std::string>{
            CONTAINING_APP, "--container-root", root, "--json", "--count", std::to_string(count), "--timeout", "60"});
        const auto ready = app->readErrorLine(10s);
        EXPECT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");
        return app;
    }

    static std::vector<json> events(Child& app, size_t count) {
        std::vector<json> got;
        while (got.size() < count)
            if (auto line = app.readLine(60s)) got.push_back(json::parse(*line)); else break;
        return got;
    }
};

TEST_F(BroadcastSeenFromAnotherProcess, EachBroadcastGivesAStartEndPairAndTheSameRecordingToBoth) {
    if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    auto app = startApp(2);
    auto host = startHost({"--quiet", "--json", "--scenario", std::string(HOST_EXAMPLES_DIR) + "/two-broadcasts.json"});
    std::string output;
    while (auto line = host->readLine(60s)) output += *line + "\n";
    ASSERT_EQ(host->wait(60s), 0);
    const std::vector<json> got = events(*app, 4);
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i]["name"], i % 2 == 0 ? "com.sorvane.recordBroadcastStart" : "com.sorvane.recordBroadcastEnd");
        EXPECT_EQ(got[i]["payload"], json({{"TestKey", "TestValue"}}));
    }
    EXPECT_EQ(app->wait(10s), 0);

    // The last recording is the same file to both programs (the first may be
    // replaced by the second before the app inspects it).
    const json fromHost = json::parse(output)["broadcasts"].at(1)["recording"];
    EXPECT_EQ(got[3]["recording"]["status"], "complete") << got[3].dump();
    for (const char* key : {"path", "frames", "sampleRate", "channels"})
        EXPECT_EQ(got[3]["recording"][key], fromHost[key]) << key << ": " << output << "\n" << got[3].dump();
}

// Ctrl-C hands over what was recorded so far, signals it, prints the
// summary, and exits 0.
TEST_F(BroadcastSeenFromAnotherProcess, SigintMidBroadcastHandsOverWhatWasRecorded) {
    if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    auto app = startApp(1);
    auto host = startHost({"--quiet", "--realtime", "--duration", "10", "--app-frames", "4410"});
    ASSERT_EQ(events(*app, 1).size(), 1u) << "the start signal";
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    const auto summary = host->readLine(20s);
    EXPECT_EQ(host->wait(20s), 0);
    EXPECT_EQ(summary.value_or("").rfind("Broadcast 1 (finished)", 0), 0u) << summary.value_or("(no summary)");
    const std::vector<json> end = events(*app, 1);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0]["name"], "com.sorvane.recordBroadcastEnd");
    EXPECT_EQ(end[0]["recording"]["status"], "complete") << end[0].dump();
    const double seconds = end[0]["recording"].value("durationSeconds", 0.0);
    EXPECT_TRUE(seconds >= 0.5 && seconds < 9) << "about the second recorded, not the ten asked for: " << seconds;
}

// A second Ctrl-C while the first is finishing the broadcast aborts at once.
TEST_F(BroadcastSeenFromAnotherProcess, SecondSigintWhileFinishingAbortsWith130) {
    // A long broadcast at full speed. Once its temporary recording holds
    // 64 MiB the host is delivering (so it handles Ctrl-C), and finishing
    // (hand-over and summary) has that much to copy and read.
    auto host = startHost({"--duration", "36000", "--mic-source", "none", "--video-rate", "0"});
    const std::string temporary = tmp + "/broadcast-extension-" + std::to_string(::getuid()) + "/tempfile.wav";
    std::error_code error;
    for (const auto deadline = std::chrono::steady_clock::now() + 60s;
         std::filesystem::file_size(temporary, error) < (64u << 20) || error;) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no recording in progress";
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    std::optional<std::string> line;
    while ((line = host->readErrorLine(20s)) && line->find("stopping") == std::string::npos) {
    }
    ASSERT_TRUE(line) << "no word that the broadcast is being finished";
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    EXPECT_EQ(host->wait(20s), 130);
}

}  // namespace
