#pragma once
// The audio input of a media writer. It is created from linear-PCM output
// settings and converts every appended buffer, whatever its own linear-PCM
// layout, rate or channel count, to those settings.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "../buffers/CMSampleBuffer.h"
#include "../foundation/NSDictionary.h"
#include "../foundation/NSError.h"
#include "AVAudioSettings.h"

class AVAssetWriter;

namespace media {
class InputPipeline;  // conversion state, scratch space, resampler
}

class AVAssetWriterInput {
public:
    // An input for `mediaType` (only audio) with `outputSettings`; none when
    // the settings are not ones the WAVE writer can write (not linear PCM,
    // float, big-endian or non-interleaved output, rate not in 1..2^32-1,
    // depth not 8/16/24/32, no channels, or a frame wider than 65535 bytes).
    static std::shared_ptr<AVAssetWriterInput> assetWriterInputWithMediaType(
        AVMediaType mediaType, const NSDictionary& outputSettings);

    ~AVAssetWriterInput();
    AVAssetWriterInput(const AVAssetWriterInput&) = delete;
    AVAssetWriterInput& operator=(const AVAssetWriterInput&) = delete;

    // Converts the buffer to the output settings and hands it to the writer.
    // Returns false, changing nothing in the file, when the input belongs to
    // no writer, the writer is not writing, or the buffer is refused (null,
    // not linear PCM, inconsistent description, data shorter than its frames).
    bool appendSampleBuffer(CMSampleBufferRef buffer);

    // Always true: the input takes every buffer offered.
    bool isReadyForMoreMediaData() const { return true; }

    uint32_t sampleRate() const;
    uint32_t channelCount() const;
    uint32_t bitDepth() const;
    // Output samples that had to be saturated since the input was created.
    uint64_t clippedSampleCount() const;
    // The reason the last refused append was refused, or none.
    NSErrorPtr lastAppendError() const;

private:
    friend class AVAssetWriter;
    explicit AVAssetWriterInput(std::unique_ptr<media::InputPipeline> pipeline);
    // The error for buffers refused because of `problem`: made by the first
    // such buffer and reused for every later one, so refusals allocate
    // nothing per buffer.
    const NSErrorPtr& refusalError(std::string_view problem);

    std::unique_ptr<media::InputPipeline> pipeline_;
    AVAssetWriter* owner_ = nullptr;  // set by addInput, cleared when the writer goes
    NSErrorPtr lastAppendError_;
    std::vector<NSErrorPtr> refusalErrors_;  // one per reason met so far
};
