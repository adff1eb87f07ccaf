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

TEST(CommandLine, UsageErrorsSayWhatIsNeeded) {
    struct Case {
        std::vector<const char*> args;
        ExitCode code;
        const char* says;
    };
    const Case cases[] = {
        {{"--bogus"}, ExitCode::Usage, "unknown option --bogus"},
        {{"--app-sorce", "tones"}, ExitCode::Usage, "--app-sorce (did you mean --app-source?)"},
        {{"--dur", "3"}, ExitCode::Usage, "did you mean --duration?"},
        {{"--app-format", "aac"}, ExitCode::Usage, "linear PCM"},
        {{"--app-rate", "0"}, ExitCode::Usage, "from 1 to 768000 Hz"},
        {{"--mic-channels", "abc"}, ExitCode::Usage, "a whole number from 1 to 32"},
        {{"--duration", "-1"}, ExitCode::Usage, "above 0"},
        {{"--duration", "0"}, ExitCode::Usage, "--duration: must be a number above 0 and up to 604800 seconds"},
        {{"--duration", "nan"}, ExitCode::Usage, "--duration: must be"},
        {{"--duration", "1e308"}, ExitCode::Usage, "up to 604800 seconds, not \"1e308\""},
        {{"--video-rate", "nan"}, ExitCode::Usage, "--video-rate: must be a number from 0 to 1000"},
        {{"--pause-at", "inf"}, ExitCode::Usage, "--pause-at: must be"},
        {{"--scenario", "x.json", "--app-rate", "48000"}, ExitCode::Usage, "cannot be combined"},
        {{"--resume-at", "2"}, ExitCode::Usage, "needs --pause-at"},
        {{"--pause-at", "3", "--resume-at", "2"}, ExitCode::Usage, "after --pause-at"},
        {{"--duration", "5", "--pause-at", "5"}, ExitCode::Usage, "within --duration"},
        {{"--pause-at", "11"}, ExitCode::Usage, "within --duration"},  // beyond the default 10 s
        {{"--temp-dir", "/nonexistent/dir"}, ExitCode::Usage, "/nonexistent/dir"},
        {{"--app-source", "radio"}, ExitCode::BadSource, "radio"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(failure(c.args, &message), c.code) << c.args[0];
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(message.find("1000000000000"), std::string::npos) << message;  // bounds people can read
    }
}

TEST(CommandLine, ARepeatedOptionTakesItsLastValueAndRatesMayBeFractional) {
    const HostOptions options = *parse({"--app-rate", "48000", "--app-rate", "22050.5", "--json", "--json"});
    EXPECT_EQ(options.app->encoding.sampleRate, 22050.5);
    EXPECT_TRUE(options.json);
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
