// containing-app as a process on the session bus of dbus-run-session (see CMakeLists.txt): beside a poster
// process, then beside broadcast-extension recording broadcasts, where Ctrl-C ends a broadcast as the service does.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "tests/support/TempDirectory.h"
#include "toolkit/RecordingJson.h"

namespace {

using namespace notifytest;
using nlohmann::json;
namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

class ContainingAppProcess : public testing::Test {
protected:
    testing_support::TempDirectory dir;
    std::string root = dir / "containers-\xff", tmp = dir / "tmp";  // root not UTF-8: JSON lines still JSON
    std::string recording = root + "/group.tolvix/NewRecording.wav";

    void SetUp() override {
        if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        fs::create_directories(root + "/group.tolvix");
        fs::create_directories(tmp);
    }

    // Starts the app and waits until it has registered on the bus.
    std::unique_ptr<Child> startApp(Args arguments) const {
        arguments.insert(arguments.begin(), {CONTAINING_APP, "--container-root", root});
        auto app = std::make_unique<Child>(arguments);
        const auto ready = app->readErrorLine(10s);
        EXPECT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");
        return app;
    }

    std::unique_ptr<Child> startHost(Args arguments) const {
        arguments.insert(arguments.begin(), {BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp});
        return std::make_unique<Child>(arguments);
    }

    // Posts `names` from another process, then returns the app's next line.
    static std::string postAndRead(Child& app, Args names) {
        names.insert(names.begin(), NOTIFY_POST_HELPER);
        EXPECT_EQ(Child(names).wait(30s), 0);
        return app.readLine(10s).value_or("(no line)");
    }

    static std::vector<json> events(Child& app, size_t count) {
        std::vector<json> got;
        for (std::optional<std::string> line; got.size() < count && (line = app.readLine(60s));)
            got.push_back(json::parse(*line));
        return got;
    }

    // Until the temporary recording holds more than `bytes`: the host is delivering, so it handles Ctrl-C.
    void waitForRecording(std::uintmax_t bytes) const {
        const std::string temporary = tmp + "/broadcast-extension-" + std::to_string(::getuid()) + "/tempfile.wav";
        std::error_code error;
        for (const auto deadline = Clock::now() + 60s; fs::file_size(temporary, error) <= bytes || error;) {
            ASSERT_LT(Clock::now(), deadline) << "no recording in progress";
            std::this_thread::sleep_for(5ms);
        }
    }
};

// A recording is kept once: an end signal that finds it unchanged keeps nothing, one that finds it rewritten keeps it.
TEST_F(ContainingAppProcess, SaysWhatEachEndSignalFoundAndKeepsEachNewCompleteRecordingOnce) {
    const std::string keep = dir / "kept";
    auto app = startApp({"--keep", keep});
    EXPECT_NE(postAndRead(*app, {kEnd}).find("no recording at " + recording), std::string::npos);
    const auto writeRecording = [&] {
        SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open(recording.c_str(), SFM_WRITE, &info);
        const std::vector<short> silence(48000 * 2);
        sf_writef_short(file, silence.data(), 48000);
        sf_close(file);
    };
    writeRecording();
    const std::string start = postAndRead(*app, {kStart, kEnd});
    EXPECT_NE(start.find(" start " + kStart + " TestKey=TestValue"), std::string::npos) << start;
    const std::string end = app->readLine(10s).value_or("");
    EXPECT_NE(end.find("recording " + recording + ": 48000 Hz, 2 ch, 16-bit, 48000 frames, 1.000 s"), std::string::npos)
        << end;
    const auto kept = end.find(" | kept as ");
    ASSERT_NE(kept, std::string::npos) << end;
    EXPECT_EQ(fs::file_size(end.substr(kept + 11)), fs::file_size(recording));  // the bytes: Archive.*
    EXPECT_NE(postAndRead(*app, {kEnd}).find(" | already kept as " + end.substr(kept + 11)), std::string::npos);
    fs::resize_file(recording, fs::file_size(recording) - 10);
    EXPECT_NE(postAndRead(*app, {kEnd}).find("incomplete recording at " + recording), std::string::npos);
    writeRecording();
    EXPECT_NE(postAndRead(*app, {kEnd}).find(" | kept as "), std::string::npos);
    ::kill(app->pid(), SIGTERM);
    EXPECT_EQ(app->wait(10s), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(keep), {}), 2) << "each new complete recording, once";
}

TEST_F(ContainingAppProcess, ExitStatuses) {
    const std::string toFull = "exec \"$0\" \"$@\" >/dev/full";
    const struct {
        Args argv;
        int status;
        std::string says;  // on standard output or error
        Args posts = {};   // posted once the app listens
    } cases[] = {
        {{CONTAINING_APP, "--container-root", root, "--json", "--count", "1"},
         0,
         R"("recording":{"status":"missing","error":"no recording at )",
         {kEnd}},
        {{CONTAINING_APP, "--keeep", "x"}, 2, "unknown option --keeep (did you mean --keep?)"},
        {{CONTAINING_APP, "--count", " 5"}, 2, "--count: must be a whole number from 1 to 1000000000, not \" 5\""},
        {{CONTAINING_APP, "--timeout", "0x10"}, 2, "--timeout: must be a number above 0"},
        {{CONTAINING_APP, "--timeout", "0.2"}, 3, "no signal within 0.2 s"},
        {{"/usr/bin/env", "DBUS_SESSION_BUS_ADDRESS=unix:path=/dev/null", CONTAINING_APP},
         4,
         "there is no session bus"},
        {{"/bin/sh", "-c", toFull, CONTAINING_APP, "--help"}, 6, "cannot write to standard output: No space left"},
        {{"/bin/sh", "-c", toFull, CONTAINING_APP, "--count", "1"},
         6,
         "cannot write to standard output: No space",
         {kEnd}},
    };
    for (const auto& c : cases) {
        Child app(c.argv);
        std::string said;
        if (!c.posts.empty()) {
            said = app.readErrorLine(10s).value_or("(not listening)") + "\n";
            Args post{NOTIFY_POST_HELPER};
            post.insert(post.end(), c.posts.begin(), c.posts.end());
            EXPECT_EQ(Child(post).wait(30s), 0);
        }
        while (auto line = app.readErrorLine(10s)) said += *line + "\n";
        while (auto line = app.readLine(10s)) said += *line + "\n";
        EXPECT_EQ(app.wait(10s), c.status) << c.argv.back() << "\n" << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
    }
}

TEST_F(ContainingAppProcess, EachBroadcastGivesAStartEndPairAndTheSameRecordingToBoth) {
    auto app = startApp({"--json", "--count", "2", "--timeout", "60"});
    auto host = startHost({"--quiet", "--json", "--scenario", std::string(HOST_EXAMPLES_DIR) + "/two-broadcasts.json"});
    std::string output;
    while (auto line = host->readLine(60s)) output += *line + "\n";
    ASSERT_EQ(host->wait(60s), 0);
    const std::vector<json> got = events(*app, 4);
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i]["name"], i % 2 == 0 ? kStart : kEnd);
        EXPECT_EQ(got[i]["payload"], json({{"TestKey", "TestValue"}}));
    }
    EXPECT_EQ(app->wait(10s), 0);

    // The last recording is the same file to both (the first may be replaced before the app inspects it).
    const json fromHost = json::parse(output)["broadcasts"].at(1)["recording"];
    EXPECT_EQ(fromHost["path"], dir / "containers-\xef\xbf\xbd/group.tolvix/NewRecording.wav");  // U+FFFD for 0xFF
    toolkit::RecordingSummary hostSaw = toolkit::recordingFromJson(fromHost);
    hostSaw.levels.reset();  // the host alone measures them
    EXPECT_EQ(toolkit::recordingFromJson(got[3]["recording"]), hostSaw) << output << "\n" << got[3].dump();
}

// The first Ctrl-C hands over what was recorded so far, signals it, prints the summary, and exits 0.
TEST_F(ContainingAppProcess, SigintMidBroadcastHandsOverWhatWasRecorded) {
    auto app = startApp({"--json", "--count", "1", "--timeout", "60"});
    auto host = startHost({"--quiet", "--realtime", "--duration", "10", "--app-frames", "4410"});
    ASSERT_EQ(events(*app, 1).size(), 1u) << "the start signal";
    waitForRecording(64 << 10);  // written once a second of audio is held
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    const auto summary = host->readLine(20s);
    EXPECT_EQ(host->wait(20s), 0);
    EXPECT_EQ(summary.value_or("").rfind("Broadcast 1 (finished)", 0), 0u) << summary.value_or("(no summary)");
    const json end = events(*app, 1).at(0);
    EXPECT_EQ(end["name"], kEnd);
    EXPECT_EQ(end["recording"]["status"], "complete") << end.dump();
    const double seconds = end["recording"].value("durationSeconds", 0.0);
    EXPECT_TRUE(seconds >= 0.5 && seconds < 9) << "about the second recorded, not the ten asked for: " << seconds;
}

// A second Ctrl-C while the first is finishing the broadcast aborts at once:
// at full speed, 64 MiB recorded give finishing (copy, summary) much to do.
TEST_F(ContainingAppProcess, SecondSigintWhileFinishingAbortsWith130) {
    auto host = startHost({"--duration", "36000", "--mic-source", "none", "--video-rate", "0"});
    waitForRecording(64 << 20);
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    std::optional<std::string> line;
    do line = host->readErrorLine(20s);
    while (line && line->find("stopping") == std::string::npos);
    ASSERT_TRUE(line) << "no word that the broadcast is being finished";
    ASSERT_EQ(::kill(host->pid(), SIGINT), 0);
    EXPECT_EQ(host->wait(20s), 130);
}

}  // namespace
