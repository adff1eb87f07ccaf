#pragma once
// A principal class that writes down every call the host makes, copying
// what each buffer carries (the host reuses buffer storage).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/broadcast/RPBroadcastSampleHandler.h"

namespace host::test {

struct Call {
    int handler = 0;  // which instance received it
    std::string name;
    // processSampleBuffer
    bool nullBuffer = false;
    RPSampleBufferType type = 0;
    bool hasFormat = false;
    std::optional<CMMediaType> mediaType;
    std::optional<AudioStreamBasicDescription> description;
    CMTime time = kCMTimeInvalid;
    int64_t frames = 0;
    std::vector<AudioBuffer> blocks;          // mData pointers are stale; sizes are valid
    std::vector<std::vector<uint8_t>> bytes;  // copies of each block
    // broadcastStartedWithSetupInfo
    std::optional<RPSetupInfo> setupInfo;
    // finishBroadcastWithError
    std::string error;
};

struct CallLog {
    std::vector<Call> calls;
    int instances = 0;
    int alive = 0;

    std::vector<const Call*> buffers(RPSampleBufferType type) const {
        std::vector<const Call*> result;
        for (const Call& call : calls)
            if (call.name == "processSampleBuffer" && call.type == type && !call.nullBuffer) result.push_back(&call);
        return result;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const Call& call : calls)
            if (call.name != "processSampleBuffer") result.push_back(call.name);
        return result;
    }
};

class FakeHandler final : public RPBroadcastSampleHandler {
public:
    explicit FakeHandler(CallLog& log) : log_(log), id_(++log.instances) { ++log_.alive; }
    ~FakeHandler() override { --log_.alive; }

    void beginRequestWithExtensionContext(NSExtensionContext* context) override {
        RPBroadcastSampleHandler::beginRequestWithExtensionContext(context);
        add("begin");
    }
    void broadcastStartedWithSetupInfo(const RPSetupInfo* info) override {
        Call& call = add("start");
        if (info != nullptr) call.setupInfo = *info;
    }
    void broadcastPaused() override { add("pause"); }
    void broadcastResumed() override { add("resume"); }
    void broadcastFinished() override { add("finish"); }
    void finishBroadcastWithError(const NSErrorPtr& error) override {
        add("finishWithError").error = error ? error->localizedDescription() : "";
    }
    void processSampleBuffer(CMSampleBufferRef buffer, RPSampleBufferType type) override {
        Call& call = add("processSampleBuffer");
        call.type = type;
        call.nullBuffer = buffer == nullptr;
        if (buffer == nullptr) return;
        const CMFormatDescriptionRef format = CMSampleBufferGetFormatDescription(buffer);
        call.hasFormat = format != nullptr;
        if (format != nullptr) call.mediaType = format->mediaType;
        if (const auto* asbd = CMAudioFormatDescriptionGetStreamBasicDescription(format)) call.description = *asbd;
        call.time = CMSampleBufferGetPresentationTimeStamp(buffer);
        call.frames = CMSampleBufferGetNumSamples(buffer);
        for (const AudioBuffer& block : CMSampleBufferGetAudioBuffers(buffer)) {
            call.blocks.push_back(block);
            const auto* data = static_cast<const uint8_t*>(block.mData);
            call.bytes.emplace_back(data, data + block.mDataByteSize);
        }
    }

private:
    Call& add(const char* name) {
        Call call;
        call.handler = id_;
        call.name = name;
        log_.calls.push_back(std::move(call));
        return log_.calls.back();
    }

    CallLog& log_;
    int id_;
};

inline std::unique_ptr<RPBroadcastSampleHandler> makeFake(CallLog& log) { return std::make_unique<FakeHandler>(log); }

}  // namespace host::test
