// The whole system seen from another process: broadcast-extension records
// broadcasts while containing-app, a separate process on the same session
// bus, receives the start and end signals and inspects the shared recording.
// Run under dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>

#include <filesystem>
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

}  // namespace
