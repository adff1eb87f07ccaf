#pragma once
// The host's base class for a broadcast upload extension: the host calls
// these operations as a broadcast begins, starts, delivers buffers, pauses,
// resumes and finishes.

#include <cstdint>
#include <map>
#include <string>

#include "../buffers/CMSampleBuffer.h"
#include "../foundation/NSError.h"

using RPSampleBufferType = int64_t;
inline constexpr RPSampleBufferType RPSampleBufferTypeVideo = 1;
inline constexpr RPSampleBufferType RPSampleBufferTypeAudioApp = 2;
inline constexpr RPSampleBufferType RPSampleBufferTypeAudioMic = 3;

// The setup information a broadcast may start with.
using RPSetupInfo = std::map<std::string, std::string>;

// What the host knows of the request that started the extension.
class NSExtensionContext {
public:
    explicit NSExtensionContext(std::string identifier = "broadcast") : identifier_(std::move(identifier)) {}
    const std::string& identifier() const { return identifier_; }

private:
    std::string identifier_;
};

class RPBroadcastSampleHandler {
public:
    virtual ~RPBroadcastSampleHandler() = default;

    virtual void beginRequestWithExtensionContext(NSExtensionContext* context) { (void)context; }
    virtual void broadcastStartedWithSetupInfo(const RPSetupInfo* setupInfo) { (void)setupInfo; }
    virtual void broadcastPaused() {}
    virtual void broadcastResumed() {}
    virtual void broadcastFinished() {}
    // Asks the host to end the broadcast with `error`.
    virtual void finishBroadcastWithError(const NSErrorPtr& error) { (void)error; }
    virtual void processSampleBuffer(CMSampleBufferRef sampleBuffer, RPSampleBufferType sampleBufferType) {
        (void)sampleBuffer;
        (void)sampleBufferType;
    }
};
