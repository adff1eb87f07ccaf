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
    std::string root = dir / "containers-\xff";  // not UTF-8: JSON lines must still be JSON
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

    // Posts `names` from another process, then returns the app's next line.
    static std::string postAndRead(Child& app, std::vector<std::string> names) {
        names.insert(names.begin(), NOTIFY_POST_HELPER);
        EXPECT_EQ(run(names), 0);
        return app.readLine(10s).value_or("(no line)");
    }
};

TEST_F(ContainingAppProcess, SaysWhatEachEndSignalFoundAndKeepsOnlyCompleteRecordings) {
    auto app = startApp({"--count", "3", "--keep", keep});
    EXPECT_NE(postAndRead(*app, {kEnd}).find("no recording at " + recording), std::string::npos);
    writeRecording(4800);
    fs::resize_file(recording, fs::file_size(recording) - 10);
    EXPECT_NE(postAndRead(*app, {kEnd}).find("incomplete recording at " + recording), std::string::npos);

    writeRecording(48000);
    const std::string start = postAndRead(*app, {kStart, kEnd});
    EXPECT_NE(start.find(" start " + kStart + " TestKey=TestValue"), std::string::npos) << start;
    const std::string end = app->readLine(10s).value_or("");
    EXPECT_NE(end.find("recording " + recording + ": 48000 Hz, 2 ch, 16-bit, 48000 frames, 1.000 s"), std::string::npos)
        << end;
    const auto kept = end.find(" | kept as ");
    ASSERT_NE(kept, std::string::npos) << end;
    EXPECT_EQ(contents(end.substr(kept + 11)), contents(recording));
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(keep), {}), 1) << "only the complete recording is kept";

    auto json = startApp({"--json", "--count", "1"});
    const auto line = nlohmann::json::parse(postAndRead(*json, {kEnd}));
    EXPECT_EQ(line["recording"]["status"], "complete");
    EXPECT_EQ(line["recording"]["frames"], 48000);
    EXPECT_EQ(json->wait(10s), 0);
}

TEST_F(ContainingAppProcess, ExitStatuses) {
    const auto exitsWith = [](std::vector<std::string> arguments, int status, const std::string& says) {
        arguments.insert(arguments.begin(), CONTAINING_APP);
        Child app(arguments);
        std::string errors;
        while (auto line = app.readErrorLine(10s)) errors += *line + "\n";
        EXPECT_EQ(app.wait(10s), status) << arguments.back() << "\n" << errors;
        EXPECT_NE(errors.find(says), std::string::npos) << errors;
    };
    exitsWith({"--count", "0"}, 2, "--count");
    exitsWith({"--timeout", "-1"}, 2, "--timeout");
    exitsWith({"--keeep", "x"}, 2, "unknown option --keeep (did you mean --keep?)");
    exitsWith({"--help"}, 0, "");
    exitsWith({"--timeout", "0.2"}, 3, "no signal within 0.2 s");
    auto app = startApp({});
    ::kill(app->pid(), SIGTERM);
    EXPECT_EQ(app->wait(10s), 0);
    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir / "none").c_str());
    exitsWith({"--count", "1"}, 4, "cannot receive the extension's signals");
}

}  // namespace
