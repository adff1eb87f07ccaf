// Faults met by the real program: killed mid-broadcast, full disks, unusable
// containers and temporary directories, planted links. Each must end with a
// clear log line and the end signal's hand-over rules, lose nothing already
// recorded, and write nothing outside the places the extension owns.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "HostProcess.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostLaunch;
using testing_support::HostRun;
using testing_support::runHost;
using testing_support::TempDirectory;

struct SoundInfo {
    bool opened = false;
    SF_INFO info{};
};

SoundInfo soundInfo(const std::string& path) {
    SoundInfo s;
    if (SNDFILE* f = sf_open(path.c_str(), SFM_READ, &s.info)) {
        s.opened = true;
        sf_close(f);
    }
    return s;
}

// The length of a recording and the pitch of its tone (rising zero crossings
// of the first channel per second).
struct Tone {
    sf_count_t frames = 0;
    double hertz = 0;
};

Tone toneOf(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<double> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_double(f, samples.data(), info.frames);
    sf_close(f);
    size_t rising = 0;
    for (size_t i = 1; i < static_cast<size_t>(info.frames); ++i)
        rising += samples[(i - 1) * info.channels] < 0 && samples[i * info.channels] >= 0 ? 1 : 0;
    return {info.frames, static_cast<double>(rising) * info.samplerate / static_cast<double>(info.frames)};
}

size_t countStartingWith(const std::vector<std::string>& lines, std::string_view prefix) {
    size_t n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

class HostFaults : public ::testing::Test {
protected:
    std::string containerRoot() const { return temp / "containers"; }
    std::string tempParent() const { return temp / "tmp"; }
    std::string privateTemp() const { return tempParent() + "/broadcast-extension-" + std::to_string(::geteuid()); }
    std::string shared() const { return containerRoot() + "/group.tolvix/NewRecording.wav"; }

    // One broadcast of `seconds` of app audio from `source` (by default
    // 16-bit stereo 44.1 kHz).
    HostLaunch broadcast(double seconds, const std::string& source = "sine:440") const {
        fs::create_directories(tempParent());
        return HostLaunch{{"--duration", std::to_string(seconds), "--container-root", containerRoot(), "--temp-dir",
                           tempParent(), "--app-source", source}};
    }

    TempDirectory temp;
};

TEST_F(HostFaults, KilledAtRandomPointsThenANewBroadcastIsCompleteAndCorrect) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 4; ++round) {
        HostLaunch killed = broadcast(3600);
        killed.killAfterMillis = std::uniform_int_distribution<int>(20, 400)(random);
        const HostRun k = runHost(killed);
        ASSERT_EQ(k.signal, SIGKILL) << "the broadcast ended before the kill; make it longer";
        // The stale temporary recording is a readable WAVE file.
        if (fs::exists(privateTemp() + "/tempfile.wav") && fs::file_size(privateTemp() + "/tempfile.wav") > 4096) {
            EXPECT_TRUE(soundInfo(privateTemp() + "/tempfile.wav").opened) << "round " << round;
        }

        const HostRun next = runHost(broadcast(2));
        EXPECT_EQ(next.exitStatus, 0) << next.standardError;
        const SoundInfo s = soundInfo(shared());
        ASSERT_TRUE(s.opened);
        EXPECT_EQ(s.info.frames, 88200) << "exactly the new broadcast's two seconds";
        EXPECT_EQ(s.info.samplerate, 44100);
        EXPECT_EQ(s.info.channels, 2);
    }
}

TEST_F(HostFaults, OverlappingBroadcastsEachHandOverTheirOwnRecording) {
    // The first records one second of 440 Hz from its standard input; half of
    // it is given, so it has set up and waits for the rest while the second,
    // in the same folders, records half a second of 880 Hz start to finish.
    std::vector<int16_t> tone(44100);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440 * i / 44100.0));
    HostLaunch launch = broadcast(1, "-:s16le:44100:1");
    launch.pipeInput = true;
    testing_support::StartedHost first = testing_support::startHost(launch);
    const size_t half = tone.size() / 2 * sizeof(int16_t);
    ASSERT_EQ(::write(first.input, tone.data(), half), static_cast<ssize_t>(half));
    for (int i = 0; i < 1000 && !fs::exists(privateTemp() + "/tempfile.wav"); ++i) ::usleep(10000);
    ASSERT_TRUE(fs::exists(privateTemp() + "/tempfile.wav")) << "the first broadcast has set up";

    const HostRun second = runHost(broadcast(0.5, "sine:880"));
    EXPECT_EQ(second.exitStatus, 0) << second.standardError;
    Tone handedOver = toneOf(shared());
    EXPECT_EQ(handedOver.frames, 22050);
    EXPECT_NEAR(handedOver.hertz, 880, 5);

    ASSERT_EQ(::write(first.input, reinterpret_cast<const char*>(tone.data()) + half, half), static_cast<ssize_t>(half));
    const HostRun run = testing_support::finishHost(first);
    EXPECT_EQ(run.exitStatus, 0) << run.signal << run.standardError;
    handedOver = toneOf(shared());
    EXPECT_EQ(handedOver.frames, 44100);
    EXPECT_NEAR(handedOver.hertz, 440, 5);
}

TEST_F(HostFaults, FileSizeLimitDuringRecordingKeepsWhatWasWrittenAndSaysSo) {
    HostLaunch launch = broadcast(60);  // about 10 MB of audio
    launch.fileSizeLimit = 1 << 20;
    const HostRun run = runHost(launch);  // SIGXFSZ at its default action: the program ignores it itself
    const auto log = run.logMessages();
    ASSERT_EQ(countStartingWith(log, "errb "), 1u) << run.standardError;
    EXPECT_NE(log[0].find("File too large"), std::string::npos) << log[0];
    const SoundInfo s = soundInfo(shared());
    ASSERT_TRUE(s.opened) << "what was recorded before the disk filled is handed over";
    EXPECT_GT(s.info.frames, 44100 * 2);
    EXPECT_LE(fs::file_size(shared()), size_t{1} << 20);
}

// A small filesystem mounted for one test; skipped where mounting is not allowed.
class SmallFilesystem {
public:
    SmallFilesystem(const std::string& path, const char* size) : path_(path) {
        fs::create_directories(path);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size + ",mode=0700").c_str()) == 0;
    }
    ~SmallFilesystem() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(HostFaults, FullDiskDuringRecordingKeepsWhatWasWritten) {
    SmallFilesystem small(tempParent(), "1m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small filesystem here";
    const HostRun run = runHost(broadcast(60));
    EXPECT_EQ(countStartingWith(run.logMessages(), "errb "), 1u) << run.standardError;
    const SoundInfo s = soundInfo(shared());
    ASSERT_TRUE(s.opened);
    EXPECT_GT(s.info.frames, 44100);
}

TEST_F(HostFaults, FullDiskDuringHandOverLeavesNoPartialRecording) {
    SmallFilesystem small(containerRoot(), "1m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small filesystem here";
    const HostRun run = runHost(broadcast(30));  // about 5 MB
    const auto log = run.logMessages();
    ASSERT_EQ(countStartingWith(log, "++error "), 1u) << run.standardError;
    EXPECT_NE(log[0].find("No space left on device"), std::string::npos) << log[0];
    EXPECT_TRUE(fs::is_empty(containerRoot() + "/group.tolvix")) << "no partial or hidden file is left";
    EXPECT_TRUE(soundInfo(privateTemp() + "/tempfile.wav").opened) << "the recording itself is intact";
    EXPECT_NE(run.exitStatus, 0);
}

TEST_F(HostFaults, ContainerReplacedByAFileOrALinkGivesNoDestination) {
    fs::create_directories(containerRoot());
    std::ofstream(containerRoot() + "/group.tolvix") << "not a directory";
    HostRun run = runHost(broadcast(1));
    auto log = run.logMessages();
    ASSERT_EQ(log.size(), 1u) << run.standardError;
    EXPECT_EQ(log[0].rfind("++error ", 0), 0u);
    EXPECT_TRUE(soundInfo(privateTemp() + "/tempfile.wav").opened);

    // A link planted at the container's place must not lead the copy elsewhere.
    fs::remove(containerRoot() + "/group.tolvix");
    fs::create_directories(temp / "elsewhere");
    fs::create_directory_symlink(temp / "elsewhere", containerRoot() + "/group.tolvix");
    run = runHost(broadcast(1));
    log = run.logMessages();
    ASSERT_EQ(log.size(), 1u) << run.standardError;
    EXPECT_EQ(log[0].rfind("++error ", 0), 0u);
    EXPECT_TRUE(fs::is_empty(temp / "elsewhere"));
}

TEST_F(HostFaults, UnwritableContainerRootGivesNoDestination) {
    fs::create_directories(containerRoot());
    HostLaunch launch = broadcast(1);
    if (::geteuid() == 0) {
        // Permissions do not bind root: run the program as an ordinary user
        // who may write its temporary directory but not the container root.
        constexpr int kNobody = 65534;
        fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::permissions(tempParent(), fs::perms::all | fs::perms::sticky_bit);
        launch.runAsUser = kNobody;
    } else {
        fs::permissions(containerRoot(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    const HostRun run = runHost(launch);
    const auto log = run.logMessages();
    ASSERT_EQ(log.size(), 1u) << run.standardError;
    EXPECT_EQ(log[0].rfind("++error ", 0), 0u);
    EXPECT_NE(log[0].find("container"), std::string::npos) << log[0];
    EXPECT_TRUE(fs::is_empty(containerRoot()));
    EXPECT_NE(run.exitStatus, 0);
}

TEST_F(HostFaults, TemporaryDirectoryThatIsALinkOrAnotherUsersIsRefused) {
    fs::create_directories(tempParent());
    fs::create_directories(temp / "victim");
    fs::create_directory_symlink(temp / "victim", privateTemp());
    HostRun run = runHost(broadcast(1));
    auto log = run.logMessages();
    EXPECT_EQ(countStartingWith(log, "errb "), 1u) << run.standardError;
    EXPECT_EQ(countStartingWith(log, "++error "), 1u) << run.standardError;
    EXPECT_TRUE(fs::is_empty(temp / "victim")) << "nothing is written through the link";
    EXPECT_FALSE(fs::exists(shared()));

    if (::geteuid() != 0) return;  // only root can give a directory away
    fs::remove(privateTemp());
    fs::create_directories(privateTemp());
    ASSERT_EQ(::chown(privateTemp().c_str(), 65534, 65534), 0);
    run = runHost(broadcast(1));
    log = run.logMessages();
    EXPECT_EQ(countStartingWith(log, "errb "), 1u) << run.standardError;
    EXPECT_TRUE(fs::is_empty(privateTemp()));
}

TEST_F(HostFaults, LinkPlantedAtTheTemporaryRecordingNeverRedirectsTheWrite) {
    fs::create_directories(privateTemp());
    fs::permissions(privateTemp(), fs::perms::owner_all);
    std::ofstream(temp / "precious") << "keep me";
    fs::create_symlink(temp / "precious", privateTemp() + "/tempfile.wav");
    const HostRun run = runHost(broadcast(1));
    EXPECT_EQ(run.exitStatus, 0) << run.standardError;
    std::ifstream in(temp / "precious");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    EXPECT_EQ(soundInfo(shared()).info.frames, 44100);
}

}  // namespace
