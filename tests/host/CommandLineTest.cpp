// The command line: options, their errors, and the broadcast they describe.

#include <gtest/gtest.h>

#include <sstream>

#include "host/HostError.h"
#include "host/cli/CommandLine.h"

namespace host {
namespace {

std::optional<HostOptions> parse(std::vector<const char*> args, std::string* help = nullptr) {
    args.insert(args.begin(), "broadcast-extension");
    std::ostringstream out;
    auto options = parseCommandLine(static_cast<int>(args.size()), args.data(), out);
    if (help != nullptr) *help = out.str();
    return options;
}

ExitCode failure(std::vector<const char*> args, std::string* message = nullptr) {
    try {
        parse(std::move(args));
    } catch (const HostError& error) {
        if (message != nullptr) *message = error.what();
        return error.code();
    }
    return ExitCode::Ok;
}

TEST(CommandLine, HelpListsTheOptionsAndExitCodes) {
    std::string help;
    EXPECT_FALSE(parse({"--help"}, &help));
    for (const char* option : {"--app-source", "--app-format", "--app-noninterleaved", "--mic-rate", "--video-rate",
                               "--duration", "--pause-at", "--resume-at", "--finish-with-error", "--scenario",
                               "--container-root", "--temp-dir", "--realtime", "--json", "--quiet", "Exit status"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(CommandLine, NoArgumentsMeansTheRealHostsDefaults) {
    const HostOptions options = *parse({});
    ASSERT_TRUE(options.app && options.mic);
    EXPECT_EQ(options.app->source.kind, SourceDescription::Kind::Melody);
    EXPECT_EQ(options.app->encoding.describe(), defaultAppEncoding().describe());
    EXPECT_EQ(options.mic->encoding.describe(), defaultMicEncoding().describe());
    EXPECT_EQ(options.videoRate, 30);
    EXPECT_FALSE(options.scenarioFile);
}

TEST(CommandLine, StreamOptionsSetTheEncoding) {
    const HostOptions options = *parse({"--app-source", "sine:1000", "--app-format", "f32le", "--app-rate", "48000",
                                        "--app-channels", "1", "--app-frames", "480", "--app-noninterleaved",
                                        "--mic-source", "none", "--video-rate", "0"});
    EXPECT_EQ(options.app->encoding.describe(), "f32le 48000 Hz 1 ch non-interleaved, 480 frames a buffer");
    EXPECT_FALSE(options.mic);
    const Scenario scenario = scenarioFromOptions(options);
    const auto& stream = std::get<StreamStep>(scenario.steps[2]);
    EXPECT_FALSE(stream.mic);
    EXPECT_FALSE(stream.video);
    EXPECT_EQ(*stream.seconds, kDefaultDurationSeconds);
}

TEST(CommandLine, UsageErrors) {
    std::string message;
    EXPECT_EQ(failure({"--bogus"}, &message), ExitCode::Usage);
    EXPECT_NE(message.find("--bogus"), std::string::npos);
    EXPECT_EQ(failure({"--app-format", "aac"}, &message), ExitCode::Usage);
    EXPECT_NE(message.find("linear PCM"), std::string::npos);
    EXPECT_EQ(failure({"--app-rate", "0"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--mic-channels", "abc"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--duration", "-1"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--scenario", "x.json", "--app-rate", "48000"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--resume-at", "2"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--pause-at", "3", "--resume-at", "2"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--duration", "5", "--pause-at", "5"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--pause-at", "11"}), ExitCode::Usage);  // beyond the default 10 s
    EXPECT_EQ(failure({"--temp-dir", "/nonexistent/dir"}), ExitCode::Usage);
    EXPECT_EQ(failure({"--app-source", "radio"}, &message), ExitCode::BadSource);
    EXPECT_NE(message.find("radio"), std::string::npos);
}

TEST(CommandLine, PauseAndResumeSplitTheBroadcast) {
    const Scenario scenario =
        scenarioFromOptions(*parse({"--duration", "10", "--pause-at", "3", "--resume-at", "5", "--finish-with-error"}));
    ASSERT_EQ(scenario.steps.size(), 7u);
    EXPECT_EQ(*std::get<StreamStep>(scenario.steps[2]).seconds, 3);
    EXPECT_EQ(std::get<PauseStep>(scenario.steps[3]).seconds, 2);
    EXPECT_TRUE(std::holds_alternative<ResumeStep>(scenario.steps[4]));
    EXPECT_EQ(*std::get<StreamStep>(scenario.steps[5]).seconds, 5);
    EXPECT_TRUE(std::holds_alternative<FinishWithErrorStep>(scenario.steps[6]));
}

TEST(CommandLine, AFileSourceSetsTheLengthUnlessADurationIsGiven) {
    EXPECT_FALSE(std::get<StreamStep>(scenarioFromOptions(*parse({"--app-source", "file:a.wav"})).steps[2]).seconds);
    EXPECT_EQ(*std::get<StreamStep>(
                   scenarioFromOptions(*parse({"--app-source", "file:a.wav", "--duration", "2"})).steps[2])
                   .seconds,
              2);
}

}  // namespace
}  // namespace host
