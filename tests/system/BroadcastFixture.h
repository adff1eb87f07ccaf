#pragma once
// A fixture that runs the real recorder in private temporary and container
// directories, and captures the log and every posted signal.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/NSFileManager.h"
#include "platform/log/NSLog.h"
#include "platform/notify/CFNotificationCenter.h"
#include "recorder/BManager.h"
#include "tests/support/TempDirectory.h"

class BroadcastFixture : public ::testing::Test {
protected:
    inline static const std::string kStart = "com.sorvane.recordBroadcastStart";
    inline static const std::string kEnd = "com.sorvane.recordBroadcastEnd";

    void SetUp() override {
        platform::setTemporaryDirectoryParent(temp.path());
        platform::setAppGroupContainerRoot(containerRoot());
        platform::setEntitledApplicationGroups({"group.tolvix"});
        platform::setLogSink([this](std::string_view message) { log.emplace_back(message); });
        for (const std::string& name : {kStart, kEnd}) {
            observers.push_back(platform::addNotificationObserver(name, [this](const platform::Notification& n) {
                signals.push_back(n);
                // What the containing app would find at this moment.
                sharedRecordingAtSignal.push_back(std::filesystem::exists(sharedRecordingPath()));
            }));
        }
        BManager::startBroadcast();
        signals.clear();
    }

    void TearDown() override {
        BManager::startBroadcast();
        observers.clear();
        platform::setLogSink(nullptr);
        platform::setTemporaryDirectoryParent("");
        platform::setAppGroupContainerRoot("");
    }

    std::string containerRoot() const { return temp / "containers"; }
    std::string sharedRecordingPath() const { return containerRoot() + "/group.tolvix/NewRecording.wav"; }
    std::string temporaryRecordingPath() const { return NSTemporaryDirectory() + "/tempfile.wav"; }

    std::vector<std::string> signalNames() const {
        std::vector<std::string> names;
        for (const auto& s : signals) names.push_back(s.name);
        return names;
    }
    size_t logLinesStartingWith(std::string_view prefix) const {
        size_t n = 0;
        for (const auto& line : log) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    // The recording as libsndfile reads it: format and samples as int32.
    struct ReadBack {
        bool opened = false;
        SF_INFO info{};
        std::vector<int32_t> samples;
    };
    static ReadBack readBack(const std::string& path) {
        ReadBack r;
        SNDFILE* f = sf_open(path.c_str(), SFM_READ, &r.info);
        if (f == nullptr) return r;
        r.opened = true;
        r.samples.resize(static_cast<size_t>(r.info.frames * r.info.channels));
        sf_read_int(f, r.samples.data(), static_cast<sf_count_t>(r.samples.size()));
        sf_close(f);
        return r;
    }

    testing_support::TempDirectory temp;
    std::vector<std::string> log;
    std::vector<platform::Notification> signals;
    std::vector<bool> sharedRecordingAtSignal;
    std::vector<platform::ObserverToken> observers;
};
