// The whole system seen from another process: broadcast-extension records
// broadcasts while containing-app, a separate process on the same session
// bus, receives the start and end signals and inspects the shared recording;
// the two programs speak alike. Run under dbus-run-session (see CMakeLists.txt).

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "tests/support/TempDirectory.h"
#include "toolkit/RecordingJson.h"

namespace {

using namespace notifytest;
using nlohmann::json;

// Everything `child` writes on standard output.
std::string allOutput(Child& child) {
    std::string text;
    while (auto line = child.readLine(60s)) text += *line + "\n";
    return text;
}

TEST(BroadcastSeenFromAnotherProcess, EachBroadcastGivesAStartEndPairAndTheSameRecordingToBoth) {
    if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    testing_support::TempDirectory dir;
    const std::string root = dir / "containers", tmp = dir / "tmp";
    std::filesystem::create_directories(tmp);
    Child app({CONTAINING_APP, "--container-root", root, "--json", "--count", "2", "--timeout", "60"});
    const auto ready = app.readErrorLine(10s);
    ASSERT_TRUE(ready && ready->find("waiting for") != std::string::npos) << ready.value_or("(nothing)");

    Child host({BROADCAST_EXTENSION, "--container-root", root, "--temp-dir", tmp, "--quiet", "--json", "--scenario",
                std::string(HOST_EXAMPLES_DIR) + "/two-broadcasts.json"});
    const json summary = json::parse(allOutput(host));
    ASSERT_EQ(host.wait(60s), 0);
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
    EXPECT_EQ(app.wait(10s), 0);

    // One reader for both programs' recordings. The first recording may
    // already be replaced by the second when the app inspects it; the last
    // is the same file to both, in the same keys and units.
    toolkit::RecordingSummary fromHost = toolkit::recordingFromJson(summary["broadcasts"].at(1)["recording"]);
    const toolkit::RecordingSummary fromApp = toolkit::recordingFromJson(events[3]["recording"]);
    EXPECT_EQ(fromApp.status, toolkit::RecordingSummary::Status::Complete) << events[3].dump();
    EXPECT_GT(fromApp.frames, 0u);
    EXPECT_TRUE(fromHost.levels);  // only the host measures levels
    fromHost.levels.reset();
    EXPECT_EQ(fromHost, fromApp) << summary.dump() << "\n" << events[3].dump();
}

// Both programs read like GNU tools: man-page help within 80 columns, and
// an unknown option named with the one that was meant.
TEST(BothPrograms, HelpReadsLikeAManPageAndTyposGetASuggestion) {
    struct Program {
        const char* path;
        const char* name;
        const char* typo;
        const char* meant;
    };
    for (const Program& p : {Program{BROADCAST_EXTENSION, "broadcast-extension", "--app-sorce", "--app-source"},
                             Program{CONTAINING_APP, "containing-app", "--keeep", "--keep"}}) {
        SCOPED_TRACE(p.name);
        Child help({p.path, "--help"});
        std::vector<std::string> lines;
        while (auto line = help.readLine(10s)) lines.push_back(*line);
        EXPECT_EQ(help.wait(10s), 0);
        ASSERT_GT(lines.size(), 2u);
        EXPECT_EQ(lines[0], "Usage: " + std::string(p.name) + " [OPTION]...");
        EXPECT_FALSE(lines[1].empty());  // one line of purpose
        for (const std::string& line : lines) EXPECT_LT(line.size(), 80u) << line;
        // Headings help2man turns into sections, at column 0.
        std::vector<std::string> headings;
        for (const std::string& line : lines)
            if (line == "Options:" || line == "Examples:" || line == "Exit status:") headings.push_back(line);
        EXPECT_EQ(headings, (std::vector<std::string>{"Options:", "Examples:", "Exit status:"}));

        Child typo({p.path, p.typo, "x"});
        EXPECT_EQ(typo.readErrorLine(10s).value_or(""), std::string(p.name) + ": error: unknown option " + p.typo +
                                                            " (did you mean " + p.meant + "?)");
        EXPECT_EQ(typo.wait(10s), 2);
    }
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
