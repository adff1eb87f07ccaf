// runBroadcastHost in this process with a stand-in principal class: exit
// statuses, validation before the first call, and the summary.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "FakeHandler.h"
#include "TestSupport.h"
#include "host/HostMain.h"
#include "platform/files/NSFileManager.h"

namespace host {
namespace {

test::CallLog* gLog = nullptr;
bool gWriteRecording = true;

// Leaves a short recording in the shared container when the broadcast finishes.
class RecordingFake final : public RPBroadcastSampleHandler {
public:
    RecordingFake() : inner_(*gLog) {}
    void beginRequestWithExtensionContext(NSExtensionContext* c) override { inner_.beginRequestWithExtensionContext(c); }
    void processSampleBuffer(CMSampleBufferRef b, RPSampleBufferType t) override { inner_.processSampleBuffer(b, t); }
    void broadcastFinished() override {
        inner_.broadcastFinished();
        if (!gWriteRecording) return;
        const std::string dir = platform::appGroupContainerRoot() + "/group.tolvix";
        std::filesystem::create_directories(dir);
        std::filesystem::remove(dir + "/NewRecording.wav");
        test::writeWav16(dir + "/NewRecording.wav", 44100, 2, {16384, -16384, 0, 0});
    }

private:
    test::FakeHandler inner_;
};

const NSExtensionBundle& bundle() {
    static const NSExtensionBundle b{"TestExtension", [] { return std::unique_ptr<RPBroadcastSampleHandler>(new RecordingFake); },
                                     {"group.tolvix"}, "com.sorvane.TestExtension"};
    return b;
}

class HostRun : public ::testing::Test {
protected:
    void SetUp() override { gLog = &log; gWriteRecording = true; }
    void TearDown() override {
        platform::setAppGroupContainerRoot("");
        platform::setTemporaryDirectoryParent("");
        gLog = nullptr;
    }

    int run(std::vector<std::string> args) {
        args.insert(args.begin(), {"broadcast-extension", "--container-root", root()});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = runBroadcastHost(static_cast<int>(argv.size()), argv.data(), bundle());
        out = ::testing::internal::GetCapturedStdout();
        err = ::testing::internal::GetCapturedStderr();
        return status;
    }
    std::string root() const { return dir.file(rootName); }
    std::string recording() const { return root() + "/group.tolvix/NewRecording.wav"; }
    std::string writeScenario(const std::string& text) {
        std::ofstream(dir.file("s.json")) << text;
        return dir.file("s.json");
    }

    test::TempDir dir;
    std::string rootName = "containers";
    test::CallLog log;
    std::string out, err;
};

TEST_F(HostRun, ABroadcastThatLeavesARecordingSucceedsAndIsSummarised) {
    EXPECT_EQ(run({"--duration", "1", "--quiet"}), 0) << err;
    EXPECT_NE(out.find("recording  " + recording()), std::string::npos) << out;
    EXPECT_NE(out.find("RIFF, 16-bit, 44100 Hz, 2 channels"), std::string::npos) << out;
    EXPECT_NE(out.find("peak -6.0 dBFS"), std::string::npos) << out;
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::filesystem::status(root()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(HostRun, JsonSummaryEvenForAPathThatIsNotUtf8) {
    rootName = "containers-\xff";
    ASSERT_EQ(run({"--duration", "1", "--json", "--video-rate", "10"}), 0) << err;
    const auto summary = nlohmann::json::parse(out);
    const auto& first = summary["broadcasts"][0];
    EXPECT_EQ(first["recording"]["path"], dir.file("containers-\xef\xbf\xbd") + "/group.tolvix/NewRecording.wav");
    EXPECT_EQ(first["end"], "finished");
    EXPECT_EQ(first["buffers"]["app"], 2);
    EXPECT_EQ(first["buffers"]["video"], 10);
    EXPECT_EQ(first["recording"]["frames"], 2);
    EXPECT_EQ(first["recording"]["channels"], 2);
    EXPECT_NEAR(first["recording"]["peakDbfs"].get<double>(), -6.02, 0.01);
}

TEST_F(HostRun, NoRecordingIsExitFive) {
    gWriteRecording = false;
    EXPECT_EQ(run({"--duration", "0.5"}), 5);
    EXPECT_NE(out.find("none produced"), std::string::npos) << out;
}

TEST_F(HostRun, AnOldRecordingDoesNotCountAsProduced) {
    std::filesystem::create_directories(root() + "/group.tolvix");
    test::writeWav16(recording(), 8000, 1, {1});
    gWriteRecording = false;
    EXPECT_EQ(run({"--duration", "0.5"}), 5);
}

TEST_F(HostRun, BadInputStopsBeforeTheFirstCall) {
    EXPECT_EQ(run({"--app-source", "file:" + dir.file("missing.wav")}), 3);
    EXPECT_NE(err.find("missing.wav"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(run({"--scenario", writeScenario(R"({"steps": [{"step": "begin"}, {"step": "fly"}]})")}), 4);
    EXPECT_NE(err.find("step 2"), std::string::npos);
    EXPECT_EQ(run({"--scenario", writeScenario("{\n\"steps\": [}")}), 4);
    EXPECT_NE(err.find("s.json:2:"), std::string::npos) << err;
    EXPECT_EQ(run({"--scenario", writeScenario(R"({"steps": [{"step": "begin"},
        {"step": "stream", "seconds": 1, "app": {"source": "file:/nonexistent.wav"}}]})")}),
              3);
    EXPECT_EQ(run({"--app-format", "mp3"}), 2);
    EXPECT_EQ(run({"--no-such-option"}), 2);
    EXPECT_EQ(log.instances, 0);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(std::filesystem::exists(recording()));
}

TEST_F(HostRun, AScenarioFindsItsFilesBesideItAndItsMistakesNameTheStep) {
    test::writeWav16(dir.file("beside.wav"), 44100, 2, std::vector<short>(4410 * 2, 100));
    const std::string start = R"({"steps": [{"step": "begin"}, {"step": "stream", "app": {"source": "file:)";
    EXPECT_EQ(run({"--scenario", writeScenario(start + R"(beside.wav"}}, {"step": "finish"}]})")}), 0) << err;
    EXPECT_EQ(run({"--scenario", writeScenario(start + R"(absent.wav"}}]})")}), 3);
    EXPECT_NE(err.find("s.json: step 2 (stream) app: cannot read sound file \"" + dir.file("absent.wav")),
              std::string::npos)
        << err;
}

TEST_F(HostRun, StandardInputFeedsOnlyOneStream) {
    EXPECT_EQ(run({"--app-source", "-", "--mic-source", "-"}), 3);
    EXPECT_NE(err.find("only one stream"), std::string::npos) << err;
    EXPECT_EQ(log.instances, 0);
}

TEST_F(HostRun, HelpIsNotAnError) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.find("--app-source"), std::string::npos);
    EXPECT_EQ(log.instances, 0);
}

// Places the run cannot use, given on the command line or by the
// environment, are refused before the first call, naming what is wrong.
TEST_F(HostRun, UnusableContainerRootsAndTemporaryDirectoriesAreRefusedUpFront) {
    std::ofstream(dir.file("plain")) << "x";
    struct Case {
        std::vector<std::string> options;
        const char* variable;  // set for the run, or null
        std::string value;
        const char* says;
    };
    const Case cases[] = {
        {{"--container-root", dir.file("plain")}, nullptr, "", "is not a directory"},
        {{}, "APP_GROUP_CONTAINER_ROOT", dir.file("plain/groups"), "cannot be created"},
        {{}, "XDG_DATA_HOME", dir.file("plain"), "cannot be created"},
        {{"--container-root", root()}, "TMPDIR", "relative/tmp", "not an absolute path"},
        {{"--container-root", root()}, "TMPDIR", dir.file("missing"), "does not exist"},
        {{"--container-root", root()}, "TMPDIR", dir.file("plain"), "is not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const char* saved = c.variable != nullptr ? std::getenv(c.variable) : nullptr;
        const std::string previous = saved != nullptr ? saved : "";
        if (c.variable != nullptr) ::setenv(c.variable, c.value.c_str(), 1);
        std::vector<std::string> args{"broadcast-extension"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(runBroadcastHost(static_cast<int>(argv.size()), argv.data(), bundle()), 6);
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        if (c.variable != nullptr) saved != nullptr ? ::setenv(c.variable, previous.c_str(), 1) : ::unsetenv(c.variable);
        platform::setAppGroupContainerRoot("");
    }
    EXPECT_EQ(log.instances, 0);
}

}  // namespace
}  // namespace host
