// The real broadcast-extension program as a user runs it: its command line and exit statuses, what ends
// up in the shared container, what the summary says about it, and the progress line on a terminal.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sndfile.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "tests/support/HostProcess.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDirectory.h"
#include "toolkit/RecordingJson.h"

namespace host::test {
namespace {

using nlohmann::json;
using Environment = std::vector<std::pair<std::string, std::string>>;

class EndToEnd : public ::testing::Test {
protected:
    // Every child inherits this environment: no session bus, our folders in `dir`. The test's own
    // is put back after, so that the next test's folder is not made in this one's.
    void SetUp() override {
        const Environment ours{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir / "none"},
                               {"XDG_RUNTIME_DIR", dir / "none"},
                               {"XDG_DATA_HOME", dir / "data"},
                               {"TMPDIR", dir.path()},
                               {"HOME", dir / "home"},
                               {"APP_GROUP_CONTAINER_ROOT", ""},
                               {"XDG_CACHE_HOME", ""}};
        for (const auto& [name, value] : ours) {
            const char* was = std::getenv(name.c_str());
            saved.emplace_back(name, was == nullptr ? std::nullopt : std::optional<std::string>(was));
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

    static testing_support::HostRun run(std::vector<std::string> args, Environment env = {}) {
        return testing_support::runHost({std::move(args), BROADCAST_EXTENSION_PROGRAM, std::move(env)});
    }

    std::string recording() const { return dir / "data/app-groups/group.tolvix/NewRecording.wav"; }

    testing_support::TempDirectory dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(EndToEnd, CommandLineMistakesAreOneLineWithTheirExitStatusAndNoRecording) {
    std::ofstream(dir / "plain") << "x";
    std::ofstream(dir / "s.json") << R"({"steps": [{"step": "begin"},
                                         {"step": "stream", "app": {"source": "file:a.wav"}}]})";
    std::ofstream(dir / "begin.json") << R"({"steps": [{"step": "begin"}]})";
    std::ofstream(dir / "many.json") << json{{"steps", json::array_t(10001, json{{"step", "resume"}})}};
    std::ofstream(dir / "big.json") << std::string((4 << 20) + 1, ' ');
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;  // on standard output for 0, else in the one error line
        Environment env = {};
        bool outputFull = false;  // standard output is /dev/full
    } cases[] = {
        {{"--help"}, 0, "Usage: broadcast-extension [OPTION]...\n"},
        {{"--scenario", dir / "begin.json", "--json", "--quiet"}, 10, "standard output: No space left", {}, true},
        {{"--app-sorce", "tones"}, 2, "unknown option --app-sorce (did you mean --app-source?)"},
        {{"--duration", "1e308"}, 2, "--duration: must be a number above 0 and up to 604800 seconds, not \"1e308\""},
        {{"--video-rate", "nan"}, 2, "--video-rate: must be a number from 0 to 1000"},
        {{"--app-rate", " 5"}, 2, "--app-rate: must be a number from 1 to 768000 Hz, not \" 5\""},
        {{"--app-channels", "0x10"}, 2, "--app-channels: must be a whole number from 1 to 32 channels"},
        {{"--app-source", "sine:1e3"}, 3, "bad source \"sine:1e3\""},
        {{"--scenario", "/"}, 4, "\"/\" is a directory, not a scenario file"},
        {{"--scenario", "/dev/zero"}, 4, "\"/dev/zero\" is a character device, not a scenario file"},
        {{"--scenario", dir / "big.json"}, 4, "big.json\" holds 4194305 bytes; a scenario file may hold at most 4 MiB"},
        {{"--scenario", dir / "many.json"}, 4, "10001 steps; a scenario may have at most 10000"},
        {{"--scenario", "x.json", "--app-rate", "48000"}, 2, "cannot be combined"},
        {{"--pause-at", "3", "--resume-at", "2"}, 2, "after --pause-at"},
        {{"--pause-at", "11"}, 2, "within --duration"},  // beyond the default 10 s
        {{"--app-source", "file:" + dir / "absent.flac"}, 3, dir / "absent.flac"},
        {{"--app-source", "-", "--mic-source", "-"}, 3, "only one stream"},
        // Files named by a scenario are found beside it, and their mistakes name the step.
        {{"--scenario", dir / "s.json"}, 3, "s.json: step 2 (stream) app: cannot read sound file \"" + dir / "a.wav"},
        {{"--scenario", dir / "none.json"}, 4, dir / "none.json"},
        {{"--container-root", dir / "plain"}, 6, "is not a directory"},
        {{"--temp-dir", dir / "missing"}, 6, "does not exist"},
        {{}, 6, "cannot be created", {{"APP_GROUP_CONTAINER_ROOT", dir / "plain/groups"}}},
        {{}, 6, "TMPDIR \"relative/tmp\" is not an absolute path", {{"TMPDIR", "relative/tmp"}}},
        // Variables that name no folder are refused, never replaced by a default (an empty TMPDIR is unset).
        {{"--container-root", ""}, 6, "--container-root is empty"},
        {{}, 6, "APP_GROUP_CONTAINER_ROOT is set but empty", {{"APP_GROUP_CONTAINER_ROOT", ""}}},
        {{}, 6, "XDG_DATA_HOME \"data\" is not an absolute path", {{"XDG_DATA_HOME", "data"}}},
        {{}, 6, "HOME is set but empty", {{"TMPDIR", ""}, {"HOME", ""}}},
        {{}, 6, "XDG_CACHE_HOME \"cache\" is not an absolute path", {{"TMPDIR", ""}, {"XDG_CACHE_HOME", "cache"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> toFull{"-c", "exec \"$0\" \"$@\" >/dev/full", BROADCAST_EXTENSION_PROGRAM};
        toFull.insert(toFull.end(), c.args.begin(), c.args.end());
        const auto [status, sig, out, err] =
            c.outputFull ? testing_support::runHost({toFull, "/bin/sh", c.env}) : run(c.args, c.env);
        EXPECT_EQ(status, c.status);
        EXPECT_NE((c.status == 0 ? out : err).find(c.says), std::string::npos) << err;
        EXPECT_EQ(out.empty(), c.status != 0 || c.outputFull);
        EXPECT_EQ(err.empty(), c.status == 0);
        if (c.status != 0) {  // one line, no notify line either, with bounds people can read
            EXPECT_EQ(err.rfind("broadcast-extension: error: ", 0), 0u) << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
            EXPECT_EQ(err.find("000000000000"), std::string::npos) << err;
        }
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
        EXPECT_FALSE(std::filesystem::exists(recording()));
    }
}

TEST_F(EndToEnd, AUsersSoundFileComesBackSampleForSampleInEveryLayout) {
    std::mt19937 random(3);
    std::vector<int> source{INT32_MAX - 0xFFFF, INT32_MIN};
    while (source.size() < 57330 * 2) source.push_back(static_cast<int>(random() & ~0xFFFFu));  // 1.3 s of stereo
    SF_INFO input{0, 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open((dir / "user.wav").c_str(), SFM_WRITE, &input);
    ASSERT_EQ(sf_write_int(file, source.data(), static_cast<sf_count_t>(source.size())), 57330 * 2);
    sf_close(file);
    const struct {
        std::vector<std::string> layout;
        int format;  // as libsndfile reads it: plain PCM up to 16 bits, WAVE_FORMAT_EXTENSIBLE above
    } cases[] = {{{"s16be"}, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                 {{"f32le", "--app-noninterleaved"}, SF_FORMAT_WAVEX | SF_FORMAT_PCM_32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout[0]);
        std::vector<std::string> args{"--app-source", "file:" + dir / "user.wav", "--app-format"};
        args.insert(args.end(), c.layout.begin(), c.layout.end());
        const auto [status, sig, out, err] = run(args);
        ASSERT_EQ(status, 0) << err;
        EXPECT_NE(out.find("recording  " + recording()), std::string::npos) << out;
        EXPECT_NE(err.find("notify: there is no session bus"), std::string::npos) << "with the log on";
        const auto recorded = testing_support::readRecording(recording());
        EXPECT_TRUE(recorded.samples == source) << "not the user's samples";
        EXPECT_EQ(recorded.info.format, c.format);
    }
    EXPECT_EQ(std::filesystem::status(dir / "data/app-groups").permissions(), std::filesystem::perms::owner_all);
}

// Big-endian float samples on standard input become 32-bit integers, rounded and saturated.
TEST_F(EndToEnd, StandardInputKeepsWholeFramesAndWarnsOfAHalfOne) {
    const std::vector<float> values{1.0f, -1.0f, 1.5f, -1.5f, 0.5f, 1.7e-9f, -1.7e-9f, 0.0f};
    const std::vector<int> expected{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 1 << 30, 4, -4, 0};
    std::string bytes;
    for (int i = 0; i < 512; ++i)
        for (const float value : values)  // most significant byte first
            for (int at = 3; at >= 0; --at) bytes.push_back(reinterpret_cast<const char*>(&value)[at]);
    std::ofstream(dir / "raw.pcm", std::ios::binary) << bytes << "xyz";
    ASSERT_EQ(::dup2(::open((dir / "raw.pcm").c_str(), O_RDONLY), STDIN_FILENO), 0);  // the program inherits it
    const auto [status, sig, out, err] =
        run({"--app-source", "-", "--app-format", "f32be", "--app-channels", "1", "--quiet"});
    ASSERT_EQ(status, 0) << err;
    std::string warnings = err;  // where TMPDIR is a tmpfs, a first line warns of that
    if (warnings.find("(tmpfs)") < warnings.find('\n')) warnings.erase(0, warnings.find('\n') + 1);
    EXPECT_EQ(warnings,
              "broadcast-extension: warning: standard input ended 3 bytes into a frame of 4 bytes; "
              "that partial frame was dropped\n");
    const std::vector<int> recorded = testing_support::readRecording(recording()).samples;
    ASSERT_EQ(recorded.size(), 4096u);
    for (size_t i = 0; i < recorded.size(); ++i) ASSERT_EQ(recorded[i], expected[i % 8]) << i;
}

// The last of a repeated option counts, a fractional rate records its whole part, a leading zero is still decimal,
// a pause is left out. Without TMPDIR the recording grows in the user's cache folder, made for the user alone.
TEST_F(EndToEnd, JsonSummaryOfAPausedBroadcastAtAFractionalRate) {
    const auto outcome = run({"--app-rate", "48000", "--app-rate", "22050.5", "--app-channels", "010", "--duration",
                              "1", "--pause-at", "0.5", "--resume-at", "0.7", "--json", "--quiet"},
                             {{"TMPDIR", ""}, {"XDG_CACHE_HOME", dir / "cache/user"}});
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardError;
    const json recording = json::parse(outcome.standardOutput)["broadcasts"].at(0)["recording"];
    EXPECT_EQ(recording["sampleRate"], 22050);
    EXPECT_EQ(recording["channels"], 10);
    EXPECT_EQ(recording["frames"], 17640);  // 0.8 s
    EXPECT_TRUE(std::filesystem::exists(dir / "cache/user/broadcast-extension-" + std::to_string(::geteuid()) +
                                        "/tempfile.wav"));
    EXPECT_EQ(std::filesystem::status(dir / "cache/user").permissions(), std::filesystem::perms::owner_all);
}

// Per broadcast: how it ended, the recording's status and frames, buffers app/mic/video/other, and
// why there is none. The broadcast without audio removes the one before it; run alone, it finds none.
TEST_F(EndToEnd, EveryExampleScenarioRunsAndLeavesItsRecording) {
    const std::string removed = " no recording handed over; the shared recording was removed";
    const std::map<std::string, std::pair<int, std::vector<std::string>>> expected{
        {"bad-buffer-types.json", {0, {"finished complete 88200 6/94/61/5"}}},
        {"default-broadcast.json", {0, {"finished complete 441000 20/469/300/0"}}},
        {"finish-with-error.json", {0, {"finished with error complete 132300 6/141/90/0"}}},
        {"finish-without-audio.json", {5, {"finished missing 0 0/47/30/0" + removed}}},
        {"format-change.json", {0, {"finished complete 264600 68/282/180/0"}}},
        {"two-broadcasts.json", {0, {"finished complete 88200 4/94/60/0", "finished complete 132300 6/141/90/0"}}},
    };
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(HOST_EXAMPLES_DIR), {}), expected.size());
    const auto play = [&](const std::string& name) {
        return run({"--scenario", std::string(HOST_EXAMPLES_DIR) + "/" + name, "--json", "--quiet"});
    };
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        if (want.first == 0) std::filesystem::remove(recording());
        const auto outcome = play(name);
        EXPECT_EQ(outcome.exitStatus, want.first) << outcome.standardError;
        std::vector<std::string> seen;
        size_t frames = 0;  // of the last broadcast's recording
        const json summary = json::parse(outcome.standardOutput);
        for (const json& b : summary["broadcasts"]) {
            const json &r = b["recording"], &n = b["buffers"];
            frames = r.value("frames", 0u);
            std::string why;
            if (r["status"] == "missing") why.append(" ").append(r["error"].get<std::string>());
            seen.push_back(b["end"].get<std::string>() + " " + r["status"].get<std::string>() + " " +
                           std::to_string(frames) + " " + n["app"].dump() + "/" + n["mic"].dump() + "/" +
                           n["video"].dump() + "/" + n["other"].dump() + why);
            EXPECT_NO_THROW(toolkit::recordingFromJson(r)) << r;  // keys that fit the status
        }
        EXPECT_EQ(seen, want.second);
        EXPECT_EQ(testing_support::readRecording(recording()).samples.size(), frames * 2);
    }
    std::filesystem::remove(recording());
    const json again = json::parse(play("finish-without-audio.json").standardOutput)["broadcasts"][0]["recording"];
    EXPECT_EQ(again["error"], "no recording handed over; the shared recording was left as it was");
}

// The lines a terminal of `columns` shows for `output`: carriage return,
// erase to the end of the line, newline, and a wrap past the last column.
std::vector<std::string> screenLines(const std::string& output, size_t columns) {
    std::vector<std::string> lines{""};
    size_t cursor = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        if (output.compare(i, 3, "\033[K") == 0) {
            lines.back().resize(std::min(lines.back().size(), cursor));
            i += 2;
        } else if (output[i] == '\r' || output[i] == '\n') {
            if (output[i] == '\n') lines.emplace_back();
            cursor = 0;
        } else {
            if (cursor == columns) lines.emplace_back(), cursor = 0;
            lines.back().resize(std::max(lines.back().size(), cursor + 1));
            lines.back()[cursor++] = output[i];
        }
    }
    return lines;
}

TEST_F(EndToEnd, TheProgressLineFitsTheTerminalFollowsItsWidthAndEndsWithANewline) {
    winsize size{24, 80, 0, 0};
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);  // the summary; the progress line is on stderr
        ::execl(BROADCAST_EXTENSION_PROGRAM, "broadcast-extension", "--realtime", "--duration", "1.5", nullptr);
        ::_exit(127);
    }
    std::string output;
    char chunk[4096];
    for (pollfd ready{terminal, POLLIN, 0}; ::poll(&ready, 1, 10000) > 0;) {
        const ssize_t got = ::read(terminal, chunk, sizeof chunk);
        if (got <= 0) break;  // EIO once the program has gone
        output.append(chunk, static_cast<size_t>(got));
        if (size.ws_col == 80 && output.find("broadcast 1") != std::string::npos) {
            size.ws_col = 40;  // the terminal is narrowed while the broadcast plays
            ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && size.ws_col == 40) << output;
    // Drawn at 80 columns, then within 40: one line holds the progress, and it is ended.
    const std::vector<std::string> lines = screenLines(output, 80);
    std::vector<std::string> progress;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(progress),
                 [](const std::string& line) { return line.find("broadcast 1") != std::string::npos; });
    ASSERT_EQ(progress.size(), 1u) << output;
    EXPECT_LT(progress[0].size(), 40u) << progress[0];
    EXPECT_EQ(lines.back(), "") << "the last line is ended";
}

}  // namespace
}  // namespace host::test
