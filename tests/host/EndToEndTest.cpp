// The real broadcast-extension program: a user's sound file in, the shared
// recording out, and the shipped example scenarios.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "TestSupport.h"

extern char** environ;

namespace host {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class EndToEnd : public ::testing::Test {
protected:
    Outcome run(std::vector<std::string> args, const std::string& stdinPath = "/dev/null") {
        args.insert(args.begin(), {BROADCAST_EXTENSION_PATH, "--container-root", dir.file("containers"), "--temp-dir",
                                   tmp()});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        Outcome outcome;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        outcome.out = slurp(dir.file("stdout"));
        outcome.err = slurp(dir.file("stderr"));
        return outcome;
    }

    std::string tmp() {
        std::filesystem::create_directories(dir.file("tmp"));
        return dir.file("tmp");
    }
    std::string recording() const { return dir.file("containers") + "/group.tolvix/NewRecording.wav"; }
    static std::string example(const char* name) { return std::string(HOST_EXAMPLES_DIR) + "/" + name; }

    test::TempDir dir;
};

struct Sound {
    SF_INFO info{};
    std::vector<int> samples;  // read as int: 16-bit codes land in the top bits
};

Sound readInts(const std::string& path) {
    Sound sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    if (file == nullptr) return sound;
    sound.samples.resize(static_cast<size_t>(sound.info.frames * sound.info.channels));
    sf_read_int(file, sound.samples.data(), static_cast<sf_count_t>(sound.samples.size()));
    sf_close(file);
    return sound;
}

std::vector<short> readShorts(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<short> samples(static_cast<size_t>(info.frames * info.channels));
    sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    return samples;
}

TEST_F(EndToEnd, SixteenBitFileComesBackSampleForSample) {
    std::mt19937 random(3);
    std::vector<short> source(57330 * 2);  // 1.3 s of stereo at 44.1 kHz
    for (short& sample : source) sample = static_cast<short>(static_cast<int>(random() % 65536) - 32768);
    source[0] = 32767;
    source[1] = -32768;
    test::writeWav16(dir.file("user.wav"), 44100, 2, source);

    const Outcome outcome = run({"--app-source", "file:" + dir.file("user.wav"), "--app-format", "s16be"});
    ASSERT_EQ(outcome.status, 0) << outcome.err << outcome.out;
    const Sound recorded = readInts(recording());
    EXPECT_EQ(recorded.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    EXPECT_EQ(recorded.info.samplerate, 44100);
    EXPECT_EQ(readShorts(recording()), readShorts(dir.file("user.wav")));
    EXPECT_NE(outcome.out.find(recording()), std::string::npos) << outcome.out;
}

TEST_F(EndToEnd, FloatFileGivesThirtyTwoBitIntegersScaledRoundedAndSaturated) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> source(44100);  // 1 s of mono
    for (float& sample : source) sample = uniform(random);
    const std::vector<float> edges{1.0f, -1.0f, 1.5f, -1.5f, 0.5f, 1e-9f, -1e-9f, 0.0f};
    std::copy(edges.begin(), edges.end(), source.begin());
    test::writeWavFloat(dir.file("float.wav"), 44100, 1, source);

    const Outcome outcome = run({"--app-source", "file:" + dir.file("float.wav"), "--app-format", "f32le",
                                 "--app-channels", "1", "--mic-source", "none"});
    ASSERT_EQ(outcome.status, 0) << outcome.err << outcome.out;
    const Sound recorded = readInts(recording());
    EXPECT_EQ(recorded.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_32);
    ASSERT_EQ(recorded.samples.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        const double scaled = std::ldexp(static_cast<double>(source[i]), 31);
        const double expected = std::clamp(std::nearbyint(scaled), -2147483648.0, 2147483647.0);
        const bool tie = scaled - std::floor(scaled) == 0.5;
        EXPECT_NEAR(recorded.samples[i], expected, tie ? 1 : 0) << "sample " << i << " = " << source[i];
    }
}

TEST_F(EndToEnd, RawPcmOnStandardInput) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 8820 * 2; ++i) {
        const auto code = static_cast<uint16_t>(static_cast<int16_t>((i * 37) % 60000 - 30000));
        bytes.push_back(static_cast<unsigned char>(code & 0xFF));
        bytes.push_back(static_cast<unsigned char>(code >> 8));
    }
    std::ofstream(dir.file("raw.pcm"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                              static_cast<std::streamsize>(bytes.size()));
    const Outcome outcome = run({"--app-source", "-:s16le:44100:2", "--app-frames", "4410"}, dir.file("raw.pcm"));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::vector<short> recorded = readShorts(recording());
    ASSERT_EQ(recorded.size(), 8820u * 2);
    for (size_t i = 0; i < recorded.size(); ++i)
        ASSERT_EQ(recorded[i], static_cast<int16_t>(static_cast<int>(i * 37) % 60000 - 30000)) << i;
}

TEST_F(EndToEnd, TwoBroadcastsEachLeaveARecording) {
    const Outcome outcome = run({"--scenario", example("two-broadcasts.json"), "--json"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto summary = nlohmann::json::parse(outcome.out);
    ASSERT_EQ(summary["broadcasts"].size(), 2u);
    EXPECT_NEAR(summary["broadcasts"][0]["recording"]["durationSeconds"].get<double>(), 2.0, 0.01);
    EXPECT_NEAR(summary["broadcasts"][1]["recording"]["durationSeconds"].get<double>(), 3.0, 0.01);
    EXPECT_NEAR(readInts(recording()).info.frames, 3 * 44100, 1);
}

TEST_F(EndToEnd, FinishWithoutAudioSharesNothingAndLogsAnError) {
    const Outcome outcome = run({"--scenario", example("finish-without-audio.json")});
    EXPECT_EQ(outcome.status, 5) << outcome.err;
    EXPECT_FALSE(std::filesystem::exists(recording()));
    EXPECT_NE(outcome.err.find("++error"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.out.find("none produced"), std::string::npos) << outcome.out;
}

TEST_F(EndToEnd, BadBufferTypesAreSurvived) {
    const Outcome outcome = run({"--scenario", example("bad-buffer-types.json"), "--json"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto broadcast = nlohmann::json::parse(outcome.out)["broadcasts"][0];
    EXPECT_GE(broadcast["recording"]["durationSeconds"].get<double>(), 2.0);
    EXPECT_EQ(broadcast["buffers"]["other"], 5);  // types 0, 4, -1 and two null buffers
}

TEST_F(EndToEnd, FinishWithErrorStillSharesTheRecording) {
    const Outcome outcome = run({"--scenario", example("finish-with-error.json"), "--json"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const auto broadcast = nlohmann::json::parse(outcome.out)["broadcasts"][0];
    EXPECT_EQ(broadcast["end"], "finished with error");
    EXPECT_NEAR(broadcast["recording"]["durationSeconds"].get<double>(), 3.0, 0.01);
}

TEST_F(EndToEnd, FormatChangeAndDefaultExamplesRecord) {
    for (const char* name : {"format-change.json", "default-broadcast.json"}) {
        const Outcome outcome = run({"--scenario", example(name), "--json"});
        EXPECT_EQ(outcome.status, 0) << name << ": " << outcome.err;
        std::filesystem::remove(recording());
    }
}

// The lines a terminal of `columns` shows for `output`: carriage return,
// erase to the end of the line, newline, and a wrap when a character is
// written past the last column.
std::vector<std::string> screenLines(const std::string& output, size_t columns) {
    std::vector<std::string> lines{""};
    size_t cursor = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        std::string& line = lines.back();
        if (output.compare(i, 3, "\033[K") == 0) {
            line.resize(std::min(line.size(), cursor));
            i += 2;
        } else if (output[i] == '\r') {
            cursor = 0;
        } else if (output[i] == '\n') {
            lines.emplace_back();
            cursor = 0;
        } else {
            if (cursor == columns) {
                lines.emplace_back();
                cursor = 0;
            }
            std::string& current = lines.back();
            if (current.size() <= cursor) current.resize(cursor + 1);
            current[cursor++] = output[i];
        }
    }
    return lines;
}

TEST_F(EndToEnd, TheProgressLineFitsTheTerminalFollowsItsWidthAndEndsWithANewline) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int terminal = -1;
    const std::string root = dir.file("containers"), temp = tmp();
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);  // the summary; the progress line is on standard error
        ::execl(BROADCAST_EXTENSION_PATH, BROADCAST_EXTENSION_PATH, "--container-root", root.c_str(), "--temp-dir",
                temp.c_str(), "--realtime", "--duration", "1.5", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string output;
    bool narrowed = false;
    char chunk[4096];
    while (true) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0) break;
        const ssize_t got = ::read(terminal, chunk, sizeof chunk);
        if (got <= 0) break;  // EIO once the program has gone
        output.append(chunk, static_cast<size_t>(got));
        if (!narrowed && output.find("broadcast 1") != std::string::npos) {
            size.ws_col = 40;  // the terminal is narrowed while the broadcast plays
            ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
            narrowed = true;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    ASSERT_TRUE(narrowed) << output;

    // Drawn at 80 columns until the narrowing, then within 40: however the
    // terminal shows it, one line holds the progress, and it is finished.
    const std::vector<std::string> lines = screenLines(output, 80);
    size_t progressLines = 0;
    for (const std::string& line : lines) {
        if (line.find("broadcast 1") == std::string::npos) continue;
        ++progressLines;
        EXPECT_LT(line.size(), 40u) << line;
    }
    EXPECT_EQ(progressLines, 1u) << output;
    EXPECT_EQ(lines.back(), "") << "the last line is ended";
}

TEST_F(EndToEnd, BadInputIsOneLineANonZeroExitAndNoRecording) {
    Outcome outcome = run({"--app-source", "file:" + dir.file("absent.flac")});
    EXPECT_EQ(outcome.status, 3);
    // The platform may log about its own services; the host says one line.
    const auto errorLine = outcome.err.find("broadcast-extension: error: ");
    ASSERT_NE(errorLine, std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find('\n', errorLine), outcome.err.size() - 1) << outcome.err;
    EXPECT_EQ(outcome.err.find("error:", errorLine + 28), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("absent.flac", errorLine), std::string::npos);
    outcome = run({"--app-format", "aac"});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("linear PCM"), std::string::npos) << outcome.err;
    outcome = run({"--unknown"});
    EXPECT_EQ(outcome.status, 2);
    std::ofstream(dir.file("broken.json")) << "{\"steps\": [\n  {\"step\": \"begin\"}\n  {\"step\": \"finish\"}]}";
    outcome = run({"--scenario", dir.file("broken.json")});
    EXPECT_EQ(outcome.status, 4);
    EXPECT_NE(outcome.err.find("broken.json:3:3"), std::string::npos) << outcome.err;
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_FALSE(std::filesystem::exists(recording()));
}

TEST_F(EndToEnd, TheNoBusLineComesOnlyFromABroadcastWithTheLogOn) {
    // Without a session bus, a broadcast says once that its signals stay in
    // the process; what runs no broadcast, or runs quietly, never says it.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", dir.file("no-runtime").c_str(), 1);
    const struct {
        std::vector<std::string> args;
        size_t lines;
    } cases[] = {
        {{"--help"}, 0}, {{"--version"}, 0}, {{"--duration", "soon"}, 0},
        {{"--duration", "0.1", "--quiet"}, 0}, {{"--duration", "0.1"}, 1},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(c.args);
        size_t lines = 0;
        for (size_t at = outcome.err.find("notify: no session bus"); at != std::string::npos;
             at = outcome.err.find("notify: no session bus", at + 1))
            ++lines;
        EXPECT_EQ(lines, c.lines) << c.args.front() << ": " << outcome.err;
    }
}

}  // namespace
}  // namespace host
