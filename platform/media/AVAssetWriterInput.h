#pragma once
// The audio input of a media writer. It is created from linear-PCM output
// settings and converts every appended buffer, whatever its own linear-PCM
// layout, rate or channel count, to those settings, into the file its writer
// gives it while writing.

#include <memory>

#include "../buffers/CMSampleBuffer.h"
#include "../foundation/NSDictionary.h"
#include "AVAudioSettings.h"

namespace media {
class InputPipeline;   // conversion state, scratch space, resampler
class WaveFileWriter;  // the file being written, owned by the writer
}  // namespace media

class AVAssetWriterInput {
public:
    // An input for `mediaType` (only audio) with `outputSettings`; none when
    // the settings are not ones the WAVE writer can write (not linear PCM,
    // float, big-endian or non-interleaved output, rate not in 1..2^32-1,
    // depth not 8/16/24/32, no channels, or a frame wider than 65535 bytes).
    static std::shared_ptr<AVAssetWriterInput> assetWriterInputWithMediaType(AVMediaType mediaType,
                                                                             const NSDictionary& outputSettings);

    ~AVAssetWriterInput();
    AVAssetWriterInput(const AVAssetWriterInput&) = delete;
    AVAssetWriterInput& operator=(const AVAssetWriterInput&) = delete;

    // Converts the buffer to the output settings and appends it to the file.
    // Returns false, changing nothing in the file, when the input is not
    // writing (no writer took it, or its writer has not started, has
    // finished, has failed or is gone) or the buffer is refused (null, not
    // linear PCM, inconsistent description, data shorter than its frames).
    bool appendSampleBuffer(CMSampleBufferRef buffer);

    // Called by the writer that took the input. beginWriting writes `file`'s
    // header in the output format and sends appends there from now on; false
    // when the input already writes another file or the header write failed.
    // markAsFinished writes out what the conversion still holds and ends the
    // appends; false when that write failed. stopWriting ends the appends to
    // `file` (its writer is going) without writing anything.
    bool beginWriting(media::WaveFileWriter& file);
    bool markAsFinished();
    void stopWriting(const media::WaveFileWriter& file);

private:
    explicit AVAssetWriterInput(std::unique_ptr<media::InputPipeline> pipeline);

    std::unique_ptr<media::InputPipeline> pipeline_;
    media::WaveFileWriter* file_ = nullptr;  // between beginWriting and the end of the appends
};
