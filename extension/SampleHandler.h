#pragma once
// The extension's principal class: the host's calls enter here and are passed
// to the recorder, the broadcast signals, the base class, or dropped.

#include "platform/broadcast/RPBroadcastSampleHandler.h"

class SampleHandler : public RPBroadcastSampleHandler {
public:
    void beginRequestWithExtensionContext(NSExtensionContext* context) override;
    void broadcastStartedWithSetupInfo(const RPSetupInfo* setupInfo) override;
    void broadcastPaused() override;
    void broadcastResumed() override;
    void broadcastFinished() override;
    void finishBroadcastWithError(const NSErrorPtr& error) override;
    void processSampleBuffer(CMSampleBufferRef sampleBuffer, RPSampleBufferType sampleBufferType) override;
};
