#include "AVAssetWriterInput.h"

#include "InputPipeline.h"
#include "OutputSettings.h"
#include "wave/WaveFileWriter.h"

std::shared_ptr<AVAssetWriterInput> AVAssetWriterInput::assetWriterInputWithMediaType(
    AVMediaType mediaType, const NSDictionary& outputSettings) {
    if (mediaType != AVMediaTypeAudio) return nullptr;
    const std::optional<media::WaveFormat> format = media::waveFormatFromSettings(outputSettings);
    if (!format) return nullptr;
    return std::shared_ptr<AVAssetWriterInput>(new AVAssetWriterInput(std::make_unique<media::InputPipeline>(*format)));
}

AVAssetWriterInput::AVAssetWriterInput(std::unique_ptr<media::InputPipeline> pipeline)
    : pipeline_(std::move(pipeline)) {}

AVAssetWriterInput::~AVAssetWriterInput() = default;

bool AVAssetWriterInput::appendSampleBuffer(CMSampleBufferRef buffer) {
    if (file_ == nullptr || !file_->isWriting()) return false;
    return pipeline_->append(buffer, *file_) == media::AppendOutcome::Appended;
}

bool AVAssetWriterInput::beginWriting(media::WaveFileWriter& file) {
    if (file_ != nullptr || !file.begin(pipeline_->outputFormat())) return false;
    file_ = &file;
    return true;
}

bool AVAssetWriterInput::markAsFinished() {
    if (file_ == nullptr) return false;
    const bool drained = pipeline_->finish(*file_);
    file_ = nullptr;
    return drained;
}

void AVAssetWriterInput::stopWriting(const media::WaveFileWriter& file) {
    if (file_ == &file) file_ = nullptr;
}
