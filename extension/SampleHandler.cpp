#include "SampleHandler.h"

#include "recorder/BManager.h"
#include "signals/BroadcastSignals.h"

void SampleHandler::beginRequestWithExtensionContext(NSExtensionContext* context) {
    RPBroadcastSampleHandler::beginRequestWithExtensionContext(context);
}

void SampleHandler::broadcastStartedWithSetupInfo(const RPSetupInfo* setupInfo) {
    (void)setupInfo;
    // The containing app hears of the start before the recorder is reset.
    postBroadcastSignal(kBroadcastStartSignal);
    BManager::startBroadcast();
}

void SampleHandler::broadcastPaused() {}

void SampleHandler::broadcastResumed() {}

void SampleHandler::broadcastFinished() { BManager::endBroadcast(); }

void SampleHandler::finishBroadcastWithError(const NSErrorPtr& error) {
    (void)error;
    BManager::endBroadcastError();
}

void SampleHandler::processSampleBuffer(CMSampleBufferRef sampleBuffer, RPSampleBufferType sampleBufferType) {
    if (sampleBufferType == RPSampleBufferTypeAudioApp) BManager::pushAudioSampleBuffer(sampleBuffer);
}
