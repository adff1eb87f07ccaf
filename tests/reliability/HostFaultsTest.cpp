// The real program in child processes, meeting faults: killed mid-broadcast, two at once, size
// limits and full disks, unusable folders and planted links. Each ends with a clear log line, loses
// nothing already recorded and writes nothing outside the places the extension owns.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/HostProcess.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace testing_support;

class HostFaults : public ::testing::Test {
public:
    void SetUp() override {
        for (const auto& path : {tempParent(), containerRoot(), outside()}) fs::create_directories(path);
        std::ofstream(outside() + "/keep") << "keep me";
    }
    void TearDown() override {
        for (const auto& path : mounts) ::umount2(path.c_str(), MNT_DETACH);
    }

    std::string containerRoot() const { return temp / "containers"; }
    std::string tempParent() const { return temp / "tmp"; }
    std::string privateTemp(uid_t user = ::geteuid()) const {
        return tempParent() + "/broadcast-extension-" + std::to_string(user);
    }
    std::string temporaryRecording() const { return privateTemp() + "/tempfile.wav"; }
    std::string shared() const { return containerRoot() + "/group.tolvix/NewRecording.wav"; }
    // A folder the extension does not own: nothing may reach it.
    std::string outside() const { return temp / "outside"; }

    // The program with `arguments`, recording into the folders above.
    HostLaunch launchWith(std::vector<std::string> arguments) const {
        arguments.insert(arguments.end(), {"--container-root", containerRoot(), "--temp-dir", tempParent()});
        return {.arguments = arguments};
    }
    // One broadcast of `seconds` of app audio from `source` (16-bit stereo 44.1 kHz).
    HostLaunch broadcast(double seconds, const std::string& source = "sine:440") const {
        return launchWith({"--duration", std::to_string(seconds), "--app-source", source});
    }
    // A 1 MiB filesystem at `path`; the test is skipped where mounting is not allowed.
    void mountSmall(const std::string& path) {
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m,mode=0700") != 0) GTEST_SKIP() << "needs root";
        mounts.push_back(path);
    }

    TempDirectory temp;
    std::vector<std::string> mounts;
};

TEST_F(HostFaults, KilledAtRandomPointsThenANewBroadcastIsCompleteAndCorrect) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 4; ++round) {
        StartedHost killed = startHost(broadcast(3600));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(20, 400)(random)));
        ::kill(killed.pid, SIGKILL);  // not yet waited for, so the pid is still this child's
        ASSERT_EQ(finishHost(killed).signal, SIGKILL) << "the broadcast ended before the kill; make it longer";
        const bool written = fs::exists(temporaryRecording()) && fs::file_size(temporaryRecording()) > 4096;
        EXPECT_TRUE(!written || readRecording(temporaryRecording()).opened) << "round " << round;

        const HostRun next = runHost(broadcast(2));
        EXPECT_EQ(next.exitStatus, 0) << next.standardError;
        EXPECT_EQ(readRecording(shared()).info.frames, 88200) << "exactly the new broadcast's two seconds";
    }
}

// The second broadcast runs start to finish while the first, in real time, records. The second's
// set-up takes the name "tempfile.wav": it hands over its own file by a link, the first (whose file
// has lost its name) a copy from its own descriptor.
TEST_F(HostFaults, OverlappingBroadcastsEachHandOverTheirOwnRecording) {
    HostLaunch realtime = broadcast(3);
    realtime.arguments.push_back("--realtime");
    StartedHost first = startHost(realtime);
    for (int i = 0; i < 1000 && !fs::exists(temporaryRecording()); ++i) ::usleep(1000);
    ASSERT_TRUE(fs::exists(temporaryRecording())) << "the first broadcast has set up";

    const HostRun second = runHost(broadcast(0.5, "sine:880"));
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    Recording r = readRecording(shared());
    EXPECT_EQ(r.info.frames, 22050);
    EXPECT_NEAR(hertz(r, 0, r.info.frames), 880, 5);
    EXPECT_TRUE(fs::equivalent(shared(), temporaryRecording())) << "handed over by a link";

    const HostRun run = finishHost(first);
    EXPECT_EQ(run.exitStatus, 0) << run.signal << run.standardError;
    r = readRecording(shared());
    EXPECT_EQ(r.info.frames, 3 * 44100);
    EXPECT_NEAR(hertz(r, 0, r.info.frames), 440, 5);
    EXPECT_FALSE(fs::equivalent(shared(), temporaryRecording())) << "copied";
}

// Eight programs at once in the same folders, each setting up and finishing broadcast after broadcast
// of its own length; one program's recordings are all cut short by a file-size limit. No set-up fails
// (the last to set up takes "tempfile.wav"), each broadcast's summary describes its own recording and
// each exit status its own program's, whatever the shared names hold by the time it looks.
TEST_F(HostFaults, BroadcastsFinishingTogetherEachReportTheirOwnRecording) {
    constexpr int kPrograms = 8, kBroadcasts = 40;
    std::vector<StartedHost> started;
    for (int p = 0; p < kPrograms; ++p) {
        nlohmann::json steps = nlohmann::json::array();
        for (int b = 0; b < kBroadcasts; ++b)
            for (const char* step : {R"({"step": "begin"})", R"({"step": "start"})", R"({"step": "finish"})"}) {
                steps.push_back(nlohmann::json::parse(step));
                if (step[10] == 's' && step[11] == 't')  // after "start": this program's own length
                    steps.push_back(
                        {{"step", "stream"}, {"seconds", 0.1 * (p + 1)}, {"mic", nullptr}, {"video", nullptr}});
            }
        const std::string scenario = temp / ("scenario" + std::to_string(p) + ".json");
        std::ofstream(scenario) << nlohmann::json{{"steps", steps}};
        HostLaunch launch = launchWith({"--scenario", scenario, "--json"});
        if (p == kPrograms - 1) launch.fileSizeLimit = 48 << 10;  // room for the summary on standard output too
        started.push_back(startHost(launch));
    }
    for (int p = 0; p < kPrograms; ++p) {
        const bool cut = p == kPrograms - 1;
        const HostRun run = finishHost(started[p]);
        EXPECT_EQ(run.exitStatus, cut ? 8 : 0) << run.standardError;
        const nlohmann::json summary = nlohmann::json::parse(run.standardOutput);
        for (const nlohmann::json& broadcast : summary["broadcasts"]) {
            const nlohmann::json& r = broadcast["recording"];
            EXPECT_EQ(r["status"], cut ? "incomplete" : "complete") << p << r;
            EXPECT_EQ(r["frames"], cut ? (49152 - 80) / 4 : 4410 * (p + 1)) << p << r;
        }
    }
}

// Waits for `host` at most `bound`; one still running then is killed, and the test fails.
HostRun finishWithin(StartedHost host, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(host.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "still running " << bound.count() << " s after the stop signal";
            ::kill(host.pid, SIGKILL);
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    return finishHost(host);
}

// A stop signal finishes the broadcast at once, whatever its source waits on, and hands over what was
// delivered: standard input or a FIFO whose writer has paused, SIGINT or SIGTERM.
TEST_F(HostFaults, AStopSignalFinishesABroadcastWhoseSourceWaits) {
    const std::string fifo = temp / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<int16_t> second(2 * 44100);
    for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<int16_t>(8000 * std::sin(i * 0.03));
    const std::string rawBytes(reinterpret_cast<const char*>(second.data()), second.size() * sizeof(int16_t));
    // The same as a WAVE file: 16-bit stereo at 44.1 kHz, 176,400 bytes of data.
    const std::string waveBytes =
        "RIFF\x34\xb1\x02\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0"
        "data\x10\xb1\x02\0"s +
        rawBytes;
    for (const bool standardInput : {true, false})
        for (const int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE((standardInput ? "standard input, signal " : "a FIFO, signal ") + std::to_string(signal));
            HostLaunch launch = launchWith({"--realtime", "--app-source", standardInput ? "-" : "file:" + fifo});
            if (standardInput) {  // the shell opens the FIFO as the program's standard input
                launch.arguments.insert(launch.arguments.begin(),
                                        {"-c", "exec \"$0\" \"$@\" < " + fifo, launch.program});
                launch.program = "/bin/sh";
            }
            const StartedHost host = startHost(launch);
            const int writer = ::open(fifo.c_str(), O_WRONLY);  // once the program has opened it
            ASSERT_GE(writer, 0);
            const std::string& bytes = standardInput ? rawBytes : waveBytes;
            EXPECT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            std::this_thread::sleep_for(1500ms);  // the second is delivered; the source waits for more
            ::kill(host.pid, signal);
            const HostRun run = finishWithin(host, 5s);
            ::close(writer);
            EXPECT_EQ(run.exitStatus, 0) << run.standardError;
            EXPECT_EQ(readRecording(shared()).info.frames, 44100) << "the second delivered is handed over";
        }
}

// A fault arranged before one broadcast, and what the extension must say and hand over.
struct Fault {
    const char* name;
    double seconds;
    const char* errb;   // what the one "errb" line names; none: no such line
    const char* error;  // what the one "++error" line names; none: no such line
    long frames;        // at least this many handed over; 0: no recording (exit 5), cut short with errb (exit 8)
    std::function<void(HostFaults&, HostLaunch&)> arrange;  // may skip the test
};

class HostFault : public HostFaults, public ::testing::WithParamInterface<Fault> {};

TEST_P(HostFault, EndsWithTheRightLinesAndHandOver) {
    const Fault& f = GetParam();
    HostLaunch launch = broadcast(f.seconds);
    f.arrange(*this, launch);
    if (IsSkipped()) return;
    const HostRun run = runHost(launch);
    std::vector<std::string> log;  // the system's own lines (it logs no others), from "errb" or "++error" on
    std::istringstream lines(run.standardError);
    for (std::string line; std::getline(lines, line);)
        for (const char* kind : {"] errb ", "] ++error "})
            if (line.find(kind) != std::string::npos) log.push_back(line.substr(line.find(kind) + 2));
    std::vector<std::pair<const char*, const char*>> expected;  // each line's start and what it names
    if (f.errb != nullptr) expected.emplace_back("errb ", f.errb);
    if (f.error != nullptr) expected.emplace_back("++error ", f.error);
    ASSERT_EQ(log.size(), expected.size()) << run.standardError;
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_TRUE(log[i].starts_with(expected[i].first) && log[i].find(expected[i].second) != std::string::npos)
            << log[i];
    const bool inMemory = std::find(mounts.begin(), mounts.end(), tempParent()) != mounts.end();
    EXPECT_TRUE(!inMemory || run.standardError.find("is in memory (tmpfs)") != std::string::npos) << "a warning first";
    const Recording r = readRecording(shared());
    EXPECT_EQ(r.opened, f.frames > 0);
    EXPECT_GE(r.info.frames, f.frames);
    EXPECT_EQ(run.exitStatus, f.frames == 0 ? 5 : f.errb != nullptr ? 8 : 0) << run.standardError;
    if (f.frames == 0 && fs::is_directory(fs::symlink_status(containerRoot() + "/group.tolvix"))) {
        EXPECT_TRUE(fs::is_empty(containerRoot() + "/group.tolvix")) << "no partial or hidden file is left";
    }
    const std::string recording =
        privateTemp(launch.runAsUser >= 0 ? static_cast<uid_t>(launch.runAsUser) : ::geteuid()) + "/tempfile.wav";
    if (f.errb == nullptr) {
        EXPECT_TRUE(readRecording(recording).opened) << "the recording itself is intact";
    } else if (f.frames == 0) {
        EXPECT_FALSE(fs::exists(recording)) << "nothing was written";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(outside()), {}), 1);
    EXPECT_EQ(fs::file_size(outside() + "/keep"), 7u) << "what a link leads to is untouched";
}

const bool root = ::geteuid() == 0;

INSTANTIATE_TEST_SUITE_P(
    Cases, HostFault,
    ::testing::Values(Fault{"FileSizeLimitDuringRecording", 60, "File too large", nullptr, 2 * 44100,
                            [](HostFaults&, HostLaunch& l) { l.fileSizeLimit = 1 << 20; }},
                      Fault{"FullDiskDuringRecording", 60, "No space left on device", nullptr, 44100,
                            [](HostFaults& fx, HostLaunch&) { fx.mountSmall(fx.tempParent()); }},
                      Fault{"FullDiskDuringHandOver", 30, nullptr, "No space left on device", 0,
                            [](HostFaults& fx, HostLaunch&) { fx.mountSmall(fx.containerRoot()); }},
                      Fault{"ContainerReplacedByALink", 1, nullptr, "container", 0,
                            [](HostFaults& fx, HostLaunch&) {
                                fs::create_directory_symlink(fx.outside(), fx.containerRoot() + "/group.tolvix");
                            }},
                      Fault{"UnwritableContainerRoot", 1, nullptr, "container", 0,
                            [](HostFaults& fx, HostLaunch& l) {
                                // Permissions do not bind root: an ordinary user who may write only the temporary
                                // directory.
                                fs::permissions(fx.temp.path(), fs::perms::owner_all | fs::perms::others_exec);
                                fs::permissions(fx.tempParent(), fs::perms::all | fs::perms::sticky_bit);
                                fs::permissions(fx.containerRoot(), fs::perms::owner_read | fs::perms::owner_exec);
                                l.runAsUser = root ? 65534 : -1;
                            }},
                      Fault{"TemporaryDirectoryThatIsALink", 1, "symbolic link", "symbolic link", 0,
                            [](HostFaults& fx, HostLaunch&) {
                                fs::create_directory_symlink(fx.outside(), fx.privateTemp());
                            }},
                      Fault{"TemporaryDirectoryOfAnotherUser", 1, "another user", "another user", 0,
                            [](HostFaults& fx, HostLaunch&) {
                                fs::create_directories(fx.privateTemp());
                                if (!root || ::chown(fx.privateTemp().c_str(), 65534, 65534) != 0)
                                    GTEST_SKIP() << "needs root";
                            }},
                      Fault{"LinkPlantedAtTheTemporaryRecording", 1, nullptr, nullptr, 44100,
                            [](HostFaults& fx, HostLaunch&) {
                                fs::create_directories(fx.privateTemp());
                                fs::permissions(fx.privateTemp(), fs::perms::owner_all);
                                fs::create_symlink(fx.outside() + "/keep", fx.privateTemp() + "/tempfile.wav");
                            }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
