#include "AVAssetWriterInput.h"

#include "AVAssetWriter.h"
#include "OutputSettings.h"
#include "InputPipeline.h"

std::shared_ptr<AVAssetWriterInput> AVAssetWriterInput::assetWriterInputWithMediaType(
    AVMediaType mediaType, const NSDictionary& outputSettings) {
    if (mediaType != AVMediaTypeAudio) return nullptr;
    std::string problem;
    const std::optional<media::WaveFormat> format = media::waveFormatFromSettings(outputSettings, problem);
    if (!format) return nullptr;
    return std::shared_ptr<AVAssetWriterInput>(
        new AVAssetWriterInput(std::make_unique<media::InputPipeline>(*format)));
}

AVAssetWriterInput::AVAssetWriterInput(std::unique_ptr<media::InputPipeline> pipeline)
    : pipeline_(std::move(pipeline)) {}

AVAssetWriterInput::~AVAssetWriterInput() = default;

bool AVAssetWriterInput::appendSampleBuffer(CMSampleBufferRef buffer) {
    if (owner_ == nullptr) {
        // Every buffer of a broadcast whose writer could not be made comes
        // here: one shared, immutable error rather than one per buffer.
        static const NSErrorPtr noWriter = NSError::errorWithDescription(
            AVFoundationErrorDomain, AVErrorUnknown, "The input doesn\u2019t belong to a writer.");
        lastAppendError_ = noWriter;
        return false;
    }
    return owner_->appendFromInput(*this, buffer);
}

const NSErrorPtr& AVAssetWriterInput::refusalError(std::string_view problem) {
    // The reasons are a handful of fixed sentences; the bound only guards
    // against a source of ever new ones.
    constexpr size_t kMaxReasons = 32;
    for (const NSErrorPtr& error : refusalErrors_)
        if (error->userInfoValue(NSLocalizedDescriptionKey) == problem) return error;
    if (refusalErrors_.size() == kMaxReasons) refusalErrors_.clear();
    return refusalErrors_.emplace_back(
        NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown, problem));
}

uint32_t AVAssetWriterInput::sampleRate() const { return pipeline_->outputFormat().sampleRate; }
uint32_t AVAssetWriterInput::channelCount() const { return pipeline_->outputFormat().channels; }
uint32_t AVAssetWriterInput::bitDepth() const { return pipeline_->outputFormat().bitsPerSample; }
uint64_t AVAssetWriterInput::clippedSampleCount() const { return pipeline_->clippedSamples(); }
NSErrorPtr AVAssetWriterInput::lastAppendError() const { return lastAppendError_; }
