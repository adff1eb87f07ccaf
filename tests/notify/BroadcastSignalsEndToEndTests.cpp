// The whole system seen from another process: broadcast-extension records a
// broadcast while containing-app, a separate process on the same session
// bus, receives the start and end signals and inspects the shared recording.
// Run under dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class BroadcastSeenFromAnotherProcess : public testing::Test {
protected:
    notifytest::TempDir dir;
    std::string root = dir.path() + "/containers";
    std::string tmp = dir.path() + "/tmp";

    void SetUp() override {
        if (!notifytest::sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        std::filesystem::create_directories(tmp);
    }

    std::unique_ptr<notifytest::Child> startApp(unsigned endSignals) const {
        auto app = std::make_unique<notifytest::Child>(std::vector<std::string>{
            CONTAINING_APP, "--container-root", root, "--json", "--count", std::to_string(endSignals), "--timeout", "60"});
        const auto ready = app->readErrorLine(10s);
        EXPECT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");
        return app;
    }

    int broadcast(std::vector<std::string> arguments) const {
        std::vector<std::string> argv{BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp, "--quiet"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return notifytest::run(argv);
    }

    static std::vector<json> lines(notifytest::Child& app, size_t count) {
        std::vector<json> out;
        while (out.size() < count) {
            auto line = app.readLine(60s);
            if (!line) break;
            out.push_back(json::parse(*line));
        }
        return out;
    }
};

TEST_F(BroadcastSeenFromAnotherProcess, StartThenEndWithACompleteRecording) {
    auto app = startApp(1);
    ASSERT_EQ(broadcast({"--duration", "1"}), 0);
    const auto events = lines(*app, 2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["name"], "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(events[0]["payload"], json({{"TestKey", "TestValue"}}));
    EXPECT_EQ(events[1]["name"], "com.sorvane.recordBroadcastEnd");
    EXPECT_EQ(events[1]["payload"], json({{"TestKey", "TestValue"}}));
    EXPECT_EQ(events[1]["recording"]["status"], "complete") << events[1].dump();
    EXPECT_GT(events[1]["recording"].value("frames", 0), 0);
    EXPECT_EQ(app->wait(10s), 0);
}

TEST_F(BroadcastSeenFromAnotherProcess, TwoBroadcastsGiveTwoPairsInOrder) {
    auto app = startApp(2);
    ASSERT_EQ(broadcast({"--scenario", std::string(HOST_EXAMPLES_DIR) + "/two-broadcasts.json"}), 0);
    const auto events = lines(*app, 4);
    ASSERT_EQ(events.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(events[i]["event"], i % 2 == 0 ? "start" : "end") << i;
    EXPECT_EQ(events[3]["recording"]["status"], "complete") << events[3].dump();
    EXPECT_EQ(app->wait(10s), 0);
}

}  // namespace
