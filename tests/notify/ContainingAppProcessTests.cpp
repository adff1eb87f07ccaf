// containing-app as a process beside a poster in another process, on the
// session bus of dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

class ContainingAppProcess : public testing::Test {
protected:
    notifytest::TempDir dir;
    std::string root = dir.path() + "/containers";
    std::string recording = root + "/group.tolvix/NewRecording.wav";
    std::string keep = dir.path() + "/kept";

    void SetUp() override {
        if (!notifytest::sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        std::filesystem::create_directories(root + "/group.tolvix");
    }

    void writeRecording(sf_count_t frames) const {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(recording.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        std::vector<short> silence(static_cast<size_t>(frames * 2));
        sf_writef_short(file, silence.data(), frames);
        sf_close(file);
    }

    // Starts the app and waits until it has registered on the bus.
    std::unique_ptr<notifytest::Child> startApp(std::vector<std::string> arguments) const {
        std::vector<std::string> argv{CONTAINING_APP, "--container-root", root};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        auto app = std::make_unique<notifytest::Child>(argv);
        const auto ready = app->readErrorLine(10s);
        EXPECT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");
        return app;
    }

    static void post(const std::vector<std::string>& posts) {
        std::vector<std::string> argv{NOTIFY_POST_HELPER};
        argv.insert(argv.end(), posts.begin(), posts.end());
        ASSERT_EQ(notifytest::run(argv), 0);
    }
};

TEST_F(ContainingAppProcess, PrintsEachSignalAndInspectsAndKeepsTheRecording) {
    writeRecording(48000);
    auto app = startApp({"--json", "--count", "1", "--keep", keep});
    post({kStart, kEnd});

    const auto start = app->readLine(10s);
    const auto end = app->readLine(10s);
    ASSERT_TRUE(start && end);
    const json s = json::parse(*start);
    const json e = json::parse(*end);
    EXPECT_EQ(s["event"], "start");
    EXPECT_EQ(s["payload"], json({{"TestKey", "TestValue"}}));
    EXPECT_EQ(e["event"], "end");
    EXPECT_EQ(e["recording"]["status"], "complete");
    EXPECT_EQ(e["recording"]["frames"], 48000);
    EXPECT_EQ(e["recording"]["durationSeconds"], 1.0);
    ASSERT_TRUE(e.contains("keptAs")) << *end;
    std::ifstream kept(e["keptAs"].get<std::string>(), std::ios::binary);
    std::ifstream original(recording, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}),
              std::string(std::istreambuf_iterator<char>(original), {}));
    EXPECT_EQ(app->wait(10s), 0);
}

TEST_F(ContainingAppProcess, SaysWhenTheRecordingIsMissingOrIncomplete) {
    auto app = startApp({"--count", "2", "--keep", keep});
    post({kEnd});
    const auto missing = app->readLine(10s);
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("no recording at " + recording), std::string::npos) << *missing;

    writeRecording(4800);
    std::filesystem::resize_file(recording, std::filesystem::file_size(recording) - 10);
    post({kEnd});
    const auto cut = app->readLine(10s);
    ASSERT_TRUE(cut);
    EXPECT_NE(cut->find("incomplete recording"), std::string::npos) << *cut;
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_FALSE(std::filesystem::exists(keep) && !std::filesystem::is_empty(keep)) << "nothing complete to keep";
}

TEST_F(ContainingAppProcess, EveryEndSignalCountsAndGetsItsOwnCopy) {
    writeRecording(480);
    auto app = startApp({"--count", "3", "--keep", keep});
    post({kEnd, kEnd, kEnd});
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(app->readLine(10s)) << i;
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(keep), {}), 3);
}

TEST_F(ContainingAppProcess, IdleTimeoutExitsWithStatus3) {
    auto app = startApp({"--timeout", "0.2"});
    EXPECT_EQ(app->wait(10s), 3);
}

TEST_F(ContainingAppProcess, StopsCleanlyOnSigterm) {
    auto app = startApp({});
    ::kill(app->pid(), SIGTERM);
    EXPECT_EQ(app->wait(10s), 0);
}

TEST(ContainingAppWithoutBus, ExitsWithStatus4AndSaysWhy) {
    notifytest::TempDir dir;
    notifytest::Child app({CONTAINING_APP, "--count", "1"},
                          {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.path() + "/none"});
    EXPECT_EQ(app.wait(10s), 4);
    EXPECT_NE(app.standardError().find("cannot receive the extension's signals"), std::string::npos);
}

TEST(ContainingAppCommandLine, RejectsBadOptionsWithStatus2) {
    EXPECT_EQ(notifytest::run({CONTAINING_APP, "--count", "0"}), 2);
    EXPECT_EQ(notifytest::run({CONTAINING_APP, "--timeout", "-1"}), 2);
    EXPECT_EQ(notifytest::run({CONTAINING_APP, "--no-such-option"}), 2);
    EXPECT_EQ(notifytest::run({CONTAINING_APP, "--help"}), 0);
}

}  // namespace
