// Scenario files: what they may say, and how their mistakes are reported.

#include <gtest/gtest.h>

#include <filesystem>

#include "host/HostError.h"
#include "host/scenario/ScenarioParser.h"
#include "host/scenario/TextPosition.h"

namespace host {
namespace {

std::string errorOf(std::string_view json) {
    try {
        parseScenario(json, "test.json");
    } catch (const HostError& error) {
        EXPECT_EQ(error.code(), ExitCode::BadScenario);
        return error.what();
    }
    ADD_FAILURE() << "accepted: " << json;
    return {};
}

Scenario parse(std::string_view json) { return parseScenario(json, "test.json"); }

#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)

TEST(TextPosition, CountsLinesAndColumnsFromOne) {
    const std::string_view text = "ab\ncd\n\nx";
    EXPECT_EQ(positionOfOffset(text, 0).line, 1u);
    EXPECT_EQ(positionOfOffset(text, 0).column, 1u);
    EXPECT_EQ(positionOfOffset(text, 4).line, 2u);
    EXPECT_EQ(positionOfOffset(text, 4).column, 2u);
    EXPECT_EQ(positionOfOffset(text, 7).line, 4u);
    EXPECT_EQ(positionOfOffset(text, 7).column, 1u);
    EXPECT_EQ(positionOfOffset(text, 99).column, 2u);  // just past the end
}

TEST(ScenarioParser, MalformedJsonNamesLineAndColumn) {
    // The stray comma is on line 3, column 23.
    EXPECT_CONTAINS(errorOf("{\n  \"steps\": [\n    {\"step\": \"begin\"},,\n  ]\n}"), "test.json:3:23: malformed");
    EXPECT_CONTAINS(errorOf("{\"steps\": [\n  {\"step\": tru}]}"), "test.json:2:");
    EXPECT_CONTAINS(errorOf("{\"steps\": ["), "test.json:1:12: malformed");
    EXPECT_CONTAINS(errorOf(""), "test.json:1:1: malformed");
}

TEST(ScenarioParser, WrongShapeOfTheDocument) {
    EXPECT_CONTAINS(errorOf("[]"), "\"steps\" array");
    EXPECT_CONTAINS(errorOf("{\"steps\": {}}"), "\"steps\" array");
    EXPECT_CONTAINS(errorOf("{\"steps\": []}"), "no steps");
    EXPECT_CONTAINS(errorOf("{\"steps\": [{\"step\": \"finish\"}], \"loop\": true}"), "unknown field \"loop\"");
}

TEST(ScenarioParser, UnknownStepsAndFieldsNameTheStep) {
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "begin"}, {"step": "jump"}]})"), "step 2: unknown step \"jump\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "begin", "colour": "red"}]})"),
                    "step 1 (begin): unknown field \"colour\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "app": {"volume": 3}}]})"),
                    "step 1 (stream) app: unknown field \"volume\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "video": {"fps": 3}}]})"),
                    "unknown field \"fps\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [42]})"), "step 1: a step must be an object");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"name": "begin"}]})"), "step 1: \"step\" must name the step");
}

TEST(ScenarioParser, BadValuesAreRefused) {
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": -1}]})"), "\"seconds\" must be");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": "ten"}]})"), "must be a number");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "app": {"rate": 0}}]})"), "\"rate\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "app": {"format": "aac"}}]})"),
                    "linear PCM");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "mic": {"source": "radio"}}]})"),
                    "bad source \"radio\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream", "seconds": 1, "app": {"nonInterleaved": 1}}]})"),
                    "true or false");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "buffer", "kind": "weird"}]})"), "\"kind\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "buffer", "source": "none"}]})"), "source other than none");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "start", "setupInfo": {"a": 1}}]})"), "must be a string");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "finishWithError", "code": "x"}]})"), "\"code\"");
    EXPECT_CONTAINS(errorOf(R"({"steps": [{"step": "stream"}]})"), "\"seconds\" is needed");
}

TEST(ScenarioParser, StreamsDefaultToTheRealHostsAndNullRemovesThem) {
    const Scenario scenario =
        parseScenario(R"({"steps": [{"step": "stream", "seconds": 2.5},
                            {"step": "stream", "seconds": 1, "mic": null, "video": null,
                             "app": {"source": "sine:1000", "format": "f32le", "rate": 22050.5, "channels": 1,
                                     "frames": 480, "nonInterleaved": true}},
                            {"step": "stream", "app": {"source": "file:x.wav"}},
                            {"step": "stream", "app": {"source": "file:/abs/y.wav"}}]})",
                      "test.json", "/scenarios");
    ASSERT_EQ(scenario.steps.size(), 4u);
    const auto& first = std::get<StreamStep>(scenario.steps[0]);
    EXPECT_EQ(*first.seconds, 2.5);
    ASSERT_TRUE(first.app && first.mic && first.video);
    EXPECT_EQ(sampleLayoutName(first.app->encoding.layout), "s16be");
    EXPECT_EQ(first.app->encoding.sampleRate, 44100u);
    EXPECT_EQ(first.app->encoding.framesPerBuffer, 22050u);
    EXPECT_EQ(sampleLayoutName(first.mic->encoding.layout), "s16le");
    EXPECT_EQ(first.mic->encoding.framesPerBuffer, 1024u);
    EXPECT_EQ(first.video->framesPerSecond, 30);

    const auto& second = std::get<StreamStep>(scenario.steps[1]);
    EXPECT_FALSE(second.mic);
    EXPECT_FALSE(second.video);
    EXPECT_EQ(second.app->source.kind, SourceDescription::Kind::Sine);
    EXPECT_EQ(second.app->encoding.describe(), "f32le 22050.5 Hz 1 ch non-interleaved, 480 frames a buffer");

    EXPECT_FALSE(std::get<StreamStep>(scenario.steps[2]).seconds);  // until the file ends
    // Files are found beside the scenario, unless their path is absolute.
    EXPECT_EQ(std::get<StreamStep>(scenario.steps[2]).app->source.path, "/scenarios/x.wav");
    EXPECT_EQ(std::get<StreamStep>(scenario.steps[3]).app->source.path, "/abs/y.wav");
}

TEST(ScenarioParser, StartWithSetupInformationEmptyOrNone) {
    const Scenario scenario = parse(R"({"steps": [{"step": "start", "setupInfo": {"title": "T"}},
                                                   {"step": "start", "setupInfo": {}},
                                                   {"step": "start", "setupInfo": null},
                                                   {"step": "start"}]})");
    EXPECT_EQ(std::get<StartStep>(scenario.steps[0]).setupInfo->at("title"), "T");
    EXPECT_TRUE(std::get<StartStep>(scenario.steps[1]).setupInfo->empty());
    EXPECT_FALSE(std::get<StartStep>(scenario.steps[2]).setupInfo);
    EXPECT_FALSE(std::get<StartStep>(scenario.steps[3]).setupInfo);
}

TEST(ScenarioParser, BuffersOfAnyTypeAndKind) {
    const Scenario scenario = parse(R"({"steps": [{"step": "buffer", "type": -1},
                                                   {"step": "buffer", "type": 1},
                                                   {"step": "buffer", "type": 3, "kind": "null"},
                                                   {"step": "buffer", "type": 0, "kind": "noFormat", "frames": 16}]})");
    const auto& any = std::get<BufferStep>(scenario.steps[0]);
    EXPECT_EQ(any.type, -1);
    EXPECT_EQ(any.kind, BufferStep::Kind::Audio);
    EXPECT_EQ(std::get<BufferStep>(scenario.steps[1]).kind, BufferStep::Kind::Video);
    EXPECT_EQ(std::get<BufferStep>(scenario.steps[2]).kind, BufferStep::Kind::Null);
    EXPECT_EQ(sampleLayoutName(std::get<BufferStep>(scenario.steps[2]).audio.encoding.layout), "s16le");  // the mic's
    const auto& noFormat = std::get<BufferStep>(scenario.steps[3]);
    EXPECT_EQ(noFormat.kind, BufferStep::Kind::NoFormat);
    EXPECT_EQ(noFormat.audio.encoding.framesPerBuffer, 16u);
}

TEST(ScenarioParser, ShippedExamplesAreValid) {
    size_t examples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(HOST_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".json") continue;
        ++examples;
        EXPECT_NO_THROW(loadScenarioFile(entry.path().string())) << entry.path();
    }
    EXPECT_GE(examples, 6u);
}

TEST(ScenarioParser, UnreadableFileIsABadScenario) {
    try {
        loadScenarioFile("/nonexistent/scenario.json");
        ADD_FAILURE();
    } catch (const HostError& error) {
        EXPECT_EQ(error.code(), ExitCode::BadScenario);
        EXPECT_CONTAINS(error.what(), "/nonexistent/scenario.json");
    }
}

}  // namespace
}  // namespace host
