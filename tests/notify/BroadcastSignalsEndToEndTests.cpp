// The whole system seen from another process: broadcast-extension records
// broadcasts while containing-app, a separate process on the same session
// bus, receives the start and end signals and inspects the shared recording.
// Run under dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "tests/support/TempDirectory.h"

namespace {

using namespace notifytest;
using nlohmann::json;

TEST(BroadcastSeenFromAnotherProcess, EachBroadcastGivesAStartEndPairAndACompleteRecording) {
    if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    testing_support::TempDirectory dir;
    const std::string root = dir / "containers", tmp = dir / "tmp";
    std::filesystem::create_directories(tmp);
    Child app({CONTAINING_APP, "--container-root", root, "--json", "--count", "2", "--timeout", "60"});
    const auto ready = app.readErrorLine(10s);
    ASSERT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");

    ASSERT_EQ(run({BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp, "--quiet", "--scenario",
                   std::string(HOST_EXAMPLES_DIR) + "/two-broadcasts.json"}),
              0);
    std::vector<json> events;
    while (events.size() < 4) {
        const auto line = app.readLine(60s);
        if (!line) break;
        events.push_back(json::parse(*line));
    }
    ASSERT_EQ(events.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(events[i]["name"], i % 2 == 0 ? "com.sorvane.recordBroadcastStart" : "com.sorvane.recordBroadcastEnd");
        EXPECT_EQ(events[i]["payload"], json({{"TestKey", "TestValue"}}));
    }
    // The first recording may already be replaced by the second when it is inspected.
    EXPECT_EQ(events[3]["recording"]["status"], "complete") << events[3].dump();
    EXPECT_GT(events[3]["recording"].value("frames", 0), 0);
    EXPECT_EQ(app.wait(10s), 0);
}

// Ctrl-C ends a broadcast the way the service ends one: the recording so far
// is handed over and signalled, the summary printed, and the exit status is 0.
TEST(BroadcastSeenFromAnotherProcess, SigintMidBroadcastHandsOverWhatWasRecorded) {
    if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    testing_support::TempDirectory dir;
    const std::string root = dir / "containers", tmp = dir / "tmp";
    std::filesystem::create_directories(tmp);
    Child app({CONTAINING_APP, "--container-root", root, "--json", "--count", "1", "--timeout", "60"});
    const auto ready = app.readErrorLine(10s);
    ASSERT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");

    Child host({BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp, "--quiet", "--realtime",
                "--duration", "10", "--app-frames", "4410"});
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(::kill(host.pid(), SIGINT), 0);
    const auto summary = host.readLine(20s);
    EXPECT_EQ(host.wait(20s), 0);
    EXPECT_EQ(summary.value_or("").rfind("Broadcast 1 (finished)", 0), 0u) << summary.value_or("(no summary)");
    std::vector<json> events;
    while (events.size() < 2) {
        const auto line = app.readLine(20s);
        if (!line) break;
        events.push_back(json::parse(*line));
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1]["name"], "com.sorvane.recordBroadcastEnd");
    EXPECT_EQ(events[1]["recording"]["status"], "complete") << events[1].dump();
    EXPECT_NEAR(events[1]["recording"].value("durationSeconds", 0.0), 1.0, 0.4) << events[1].dump();
}

// A second Ctrl-C while the first is still finishing aborts at once.
TEST(BroadcastSeenFromAnotherProcess, SecondSigintWhileFinishingAbortsWith130) {
    testing_support::TempDirectory dir;
    std::filesystem::create_directories(dir / "tmp");
    // A long broadcast at full speed, so finishing (hand-over and summary) takes a while.
    Child host({BROADCAST_EXTENSION, "--container-root", dir / "containers", "--temp-dir", dir / "tmp", "--duration",
                "36000", "--mic-source", "none", "--video-rate", "0"});
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(::kill(host.pid(), SIGINT), 0);
    std::optional<std::string> line;
    while ((line = host.readErrorLine(20s)) && line->find("stopping") == std::string::npos) {
    }
    ASSERT_TRUE(line) << "no word that the broadcast is being finished";
    ASSERT_EQ(::kill(host.pid(), SIGINT), 0);
    EXPECT_EQ(host.wait(20s), 130);
}

}  // namespace
