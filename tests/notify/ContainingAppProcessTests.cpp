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
#include "tests/support/TempDirectory.h"

namespace {

using namespace notifytest;
using nlohmann::json;
namespace fs = std::filesystem;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class ContainingAppProcess : public testing::Test {
protected:
    testing_support::TempDirectory dir;
    std::string root = dir / "containers";
    std::string recording = root + "/group.tolvix/NewRecording.wav";
    std::string keep = dir / "kept";

    void SetUp() override {
        if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        fs::create_directories(root + "/group.tolvix");
    }

    void writeRecording(sf_count_t frames) const {
        SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open(recording.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        std::vector<short> silence(static_cast<size_t>(frames * 2));
        sf_writef_short(file, silence.data(), frames);
        sf_close(file);
    }

    // Starts the app and waits until it has registered on the bus.
    std::unique_ptr<Child> startApp(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {CONTAINING_APP, "--container-root", root});
        auto app = std::make_unique<Child>(arguments);
        const auto ready = app->readErrorLine(10s);
        EXPECT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");
        return app;
    }

    static void post(std::vector<std::string> posts) {
        posts.insert(posts.begin(), NOTIFY_POST_HELPER);
        ASSERT_EQ(run(posts), 0);
    }
};

TEST_F(ContainingAppProcess, PrintsEachSignalInspectsAndKeepsACopyPerEndSignal) {
    writeRecording(48000);
    auto app = startApp({"--json", "--count", "2", "--keep", keep});
    post({kStart, kEnd, kEnd});

    std::vector<json> lines;
    for (int i = 0; i < 3; ++i)
        if (auto line = app->readLine(10s)) lines.push_back(json::parse(*line));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["event"], "start");
    EXPECT_EQ(lines[0]["payload"], json({{"TestKey", "TestValue"}}));
    for (const json& end : {lines[1], lines[2]}) {
        EXPECT_EQ(end["event"], "end");
        EXPECT_EQ(end["recording"]["status"], "complete");
        EXPECT_EQ(end["recording"]["frames"], 48000);
        EXPECT_EQ(end["recording"]["durationSeconds"], 1.0);
        ASSERT_TRUE(end.contains("keptAs")) << end.dump();
        EXPECT_EQ(contents(end["keptAs"].get<std::string>()), contents(recording));
    }
    EXPECT_NE(lines[1]["keptAs"], lines[2]["keptAs"]);
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(keep), {}), 2);
}

TEST_F(ContainingAppProcess, SaysWhenTheRecordingIsMissingOrIncomplete) {
    auto app = startApp({"--count", "2", "--keep", keep});
    post({kEnd});
    const auto missing = app->readLine(10s);
    ASSERT_TRUE(missing);
    EXPECT_NE(missing->find("no recording at " + recording), std::string::npos) << *missing;

    writeRecording(4800);
    fs::resize_file(recording, fs::file_size(recording) - 10);
    post({kEnd});
    const auto cut = app->readLine(10s);
    ASSERT_TRUE(cut);
    EXPECT_NE(cut->find("incomplete recording"), std::string::npos) << *cut;
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_FALSE(fs::exists(keep) && !fs::is_empty(keep)) << "nothing complete to keep";
}

TEST_F(ContainingAppProcess, IdleTimeoutExitsThreeAndSigtermExitsCleanly) {
    EXPECT_EQ(startApp({"--timeout", "0.2"})->wait(10s), 3);
    auto app = startApp({});
    ::kill(app->pid(), SIGTERM);
    EXPECT_EQ(app->wait(10s), 0);
}

TEST(ContainingAppCommandLine, BadOptionsExitTwoAndNoBusExitsFour) {
    EXPECT_EQ(run({CONTAINING_APP, "--count", "0"}), 2);
    EXPECT_EQ(run({CONTAINING_APP, "--timeout", "-1"}), 2);
    EXPECT_EQ(run({CONTAINING_APP, "--no-such-option"}), 2);
    EXPECT_EQ(run({CONTAINING_APP, "--help"}), 0);

    testing_support::TempDirectory dir;
    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir / "none").c_str());
    Child app({CONTAINING_APP, "--count", "1"});
    EXPECT_EQ(app.wait(10s), 4);
    std::string errors;
    while (auto line = app.readErrorLine(1s)) errors += *line + "\n";
    EXPECT_NE(errors.find("cannot receive the extension's signals"), std::string::npos) << errors;
}

}  // namespace
