// The containing app's output lines carry what a reader or a script needs.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <cctype>

#include "EventLine.h"

namespace {

using containing_app::Event;
using Status = containing_app::RecordingReport::Status;

Event endEvent(Status status) {
    Event e;
    e.time = std::chrono::system_clock::now();
    e.kind = "end";
    e.notification = {"com.sorvane.recordBroadcastEnd", {{"TestKey", "TestValue"}}};
    containing_app::RecordingReport r;
    r.status = status;
    r.path = "/c/group.tolvix/NewRecording.wav";
    r.problem = "the header claims 100 bytes but the file has only 50 (cut short)";
    r.container = "RIFF";
    r.sampleRate = 48000;
    r.channels = 2;
    r.bitsPerSample = 16;
    r.frames = 96000;
    r.durationSeconds = 2.0;
    e.recording = r;
    return e;
}

// `shape` uses 9 for any digit and ± for either sign.
bool hasShape(const std::string& text, const std::string& shape) {
    if (text.size() + 1 != shape.size()) return false;  // "±" is two bytes in shape
    for (size_t t = 0, s = 0; t < text.size(); ++t, ++s) {
        if (shape.compare(s, 2, "±") == 0) {
            if (text[t] != '+' && text[t] != '-') return false;
            ++s;
        } else if (shape[s] == '9') {
            if (!std::isdigit(static_cast<unsigned char>(text[t]))) return false;
        } else if (shape[s] != text[t]) {
            return false;
        }
    }
    return true;
}

TEST(EventLine, TimeIsLocalIsoWithMillisecondsAndOffset) {
    const std::string time = containing_app::formatTime(std::chrono::system_clock::now());
    EXPECT_TRUE(hasShape(time, "9999-99-99T99:99:99.999±99:99")) << time;
}

TEST(EventLine, TextLineNamesSignalPayloadAndRecordingFormat) {
    Event e = endEvent(Status::Complete);
    e.keep = containing_app::KeepResult{true, "/k/recording-20240101-000000.wav", {}};
    const std::string line = containing_app::textLine(e);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    for (const char* part : {" end com.sorvane.recordBroadcastEnd TestKey=TestValue", "48000 Hz", "2 ch", "16-bit",
                             "96000 frames", "2.000 s", "kept as /k/recording-20240101-000000.wav"})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;

    const std::string incomplete = containing_app::textLine(endEvent(Status::Incomplete));
    EXPECT_NE(incomplete.find("incomplete recording at /c/group.tolvix/NewRecording.wav: the header claims"),
              std::string::npos);
    EXPECT_NE(containing_app::textLine(endEvent(Status::Missing)).find("no recording at"), std::string::npos);
}

TEST(EventLine, JsonLineIsOneParsableObject) {
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

    const auto incomplete = nlohmann::json::parse(containing_app::jsonLine(endEvent(Status::Incomplete)));
    EXPECT_EQ(incomplete["recording"]["status"], "incomplete");
    EXPECT_FALSE(incomplete["recording"].contains("frames"));
}

TEST(EventLine, JsonSurvivesTextThatIsNotUtf8) {
    Event e = endEvent(Status::Missing);
    e.recording->path = "/c/\xff\xfe.wav";
    EXPECT_NO_THROW(nlohmann::json::parse(containing_app::jsonLine(e)));
}

}  // namespace
