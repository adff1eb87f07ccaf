// The containing app's output lines carry what a reader or a script needs.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cctype>

#include "EventLine.h"

namespace {

using containing_app::Event;
using Status = containing_app::RecordingReport::Status;

Event endEvent(Status status) {
    containing_app::RecordingReport recording;
    recording.status = status;
    recording.path = "/c/group.tolvix/NewRecording.wav";
    recording.error = "the header claims 100 bytes but the file has only 50 (cut short)";
    recording.container = "RIFF";
    recording.sampleRate = 48000;
    recording.channels = 2;
    recording.bitsPerSample = 16;
    recording.frames = 96000;
    recording.durationSeconds = 2.0;
    return Event{std::chrono::system_clock::now(),
                 {"com.sorvane.recordBroadcastEnd", {{"TestKey", "TestValue"}}},
                 "end",
                 recording,
                 std::nullopt};
}

TEST(EventLine, TimeIsLocalIsoWithMillisecondsAndOffset) {
    const std::string time = containing_app::formatTime(std::chrono::system_clock::now());
    std::string shape = time;  // every digit as 9, either sign as +
    for (char& c : shape)
        if (std::isdigit(static_cast<unsigned char>(c))) c = '9';
    if (shape.size() == 29 && shape[23] == '-') shape[23] = '+';
    EXPECT_EQ(shape, "9999-99-99T99:99:99.999+99:99") << time;
}

TEST(EventLine, TextLineNamesSignalPayloadAndRecordingFormat) {
    Event e = endEvent(Status::Complete);
    e.keep = containing_app::KeepResult{true, "/k/recording-20240101-000000.wav", {}};
    const std::string line = containing_app::textLine(e);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    for (const char* part : {" end com.sorvane.recordBroadcastEnd TestKey=TestValue", "48000 Hz", "2 ch", "16-bit",
                             "96000 frames", "2.000 s", "kept as /k/recording-20240101-000000.wav"})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;

    EXPECT_NE(containing_app::textLine(endEvent(Status::Incomplete))
                  .find("incomplete recording at /c/group.tolvix/NewRecording.wav: the header claims"),
              std::string::npos);
}

TEST(EventLine, JsonLineIsOneParsableObjectWhateverTheText) {
    Event e = endEvent(Status::Complete);
    e.keep = containing_app::KeepResult{false, {}, "disk full"};
    const std::string line = containing_app::jsonLine(e);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j["event"], "end");
    EXPECT_EQ(j["name"], "com.sorvane.recordBroadcastEnd");
    EXPECT_EQ(j["payload"]["TestKey"], "TestValue");
    EXPECT_EQ(j["recording"]["status"], "complete");
    EXPECT_EQ(j["recording"]["sampleRate"], 48000);
    EXPECT_EQ(j["recording"]["frames"], 96000);
    EXPECT_EQ(j["keepError"], "disk full");

    Event incomplete = endEvent(Status::Incomplete);
    incomplete.recording->path = "/c/\xff\xfe.wav";  // not UTF-8
    const auto k = nlohmann::json::parse(containing_app::jsonLine(incomplete));
    EXPECT_EQ(k["recording"]["status"], "incomplete");
    EXPECT_FALSE(k["recording"].contains("frames"));
}

}  // namespace
