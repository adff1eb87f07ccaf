#pragma once
// The real handler and recorder in private directories, with the log and the signals captured.

#include <gtest/gtest.h>

#include <filesystem>

#include "extension/SampleHandler.h"
#include "platform/files/NSFileManager.h"
#include "platform/log/NSLog.h"
#include "platform/notify/CFNotificationCenter.h"
#include "recorder/BManager.h"
#include "tests/support/Recordings.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestBuffers.h"

class BroadcastFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setTemporaryDirectoryParent(temp.path());
        platform::setAppGroupContainerRoot(temp / "containers");
        platform::setEntitledApplicationGroups({"group.tolvix"});
        platform::setLogSink([this](std::string_view line) { log.emplace_back(line); });
        // One letter per signal, for what the containing app meets: 's' a start, 'S' one while the
        // previous writer is still held; 'e' an end, 'E' one with the shared recording in place.
        for (const char* name : {"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"}) {
            observers.push_back(platform::addNotificationObserver(name, [this](const platform::Notification& n) {
                const bool start = n.name.ends_with("Start");
                signals += start ? (writer ? 'S' : 's') : (std::filesystem::exists(shared()) ? 'E' : 'e');
                EXPECT_EQ(n.payload, (NotificationPayload{{"TestKey", "TestValue"}}));
            }));
        }
        BManager::startBroadcast();
    }

    void TearDown() override {
        BManager::startBroadcast();  // no writer outlives its directory
        platform::setLogSink(nullptr);
    }

    std::string shared() const { return temp / "containers/group.tolvix/NewRecording.wav"; }
    void push(const testing_support::OwnedBuffer& buffer, int times = 1) {
        for (int i = 0; i < times; ++i) handler.processSampleBuffer(buffer.ref(), RPSampleBufferTypeAudioApp);
    }

    testing_support::TempDirectory temp;
    SampleHandler handler;
    std::vector<std::string> log;
    std::string signals;
    std::vector<platform::ObserverToken> observers;
};
