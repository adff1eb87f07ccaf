// Stand-ins for the recorder and the signals that only record their calls,
// so that the handler's routing can be checked on its own.

#include "RecordedCalls.h"
#include "recorder/BManager.h"
#include "signals/BroadcastSignals.h"

std::vector<RecordedCall>& recordedCalls() {
    static std::vector<RecordedCall> calls;
    return calls;
}

std::shared_ptr<AVAssetWriter> writer;
std::shared_ptr<AVAssetWriterInput> writerInput;

void BManager::startBroadcast() { recordedCalls().push_back({"startBroadcast"}); }
void BManager::endBroadcast() { recordedCalls().push_back({"endBroadcast"}); }
void BManager::creaw(CMSampleBufferRef buffer) { recordedCalls().push_back({"creaw", buffer}); }
void BManager::pushAudioSampleBuffer(CMSampleBufferRef buffer) {
    recordedCalls().push_back({"pushAudioSampleBuffer", buffer});
}
void BManager::endBroadcastError() { recordedCalls().push_back({"endBroadcastError"}); }

void postBroadcastSignal(CFStringRef name) {
    recordedCalls().push_back({"post:" + std::string(CFStringGetText(name))});
}
