#pragma once
// A media writer bound to one file URL and the WAVE file type. It creates the
// file exclusively when it is made, writes the samples its input converts,
// end to end in arrival order from the start of the file, and completes the
// header when it finishes. A writer released without finishing leaves the
// file as far as it was last brought up to date. While the writer lives, a
// copy from its URL copies the file it wrote, even if the name was reused.

#include <cstdint>
#include <memory>

#include "../buffers/CMSampleBuffer.h"
#include "../buffers/CMTime.h"
#include "../foundation/NSError.h"
#include "../foundation/NSURL.h"
#include "AVAudioSettings.h"

class AVAssetWriterInput;

namespace media {
class WaveFileWriter;  // the file, its header and its user-space buffer
}
namespace platform::files {
class CreatedFileRecord;  // the file's descriptor, known to the file services
}

enum class AVAssetWriterStatus { Unknown = 0, Writing = 1, Completed = 2, Failed = 3, Cancelled = 4 };

class AVAssetWriter {
public:
    // A writer for `url` with file type WAVE, or none with `*outError` set:
    // when the file type is not WAVE, a file already exists at the URL, the
    // URL's directory is not a private directory of this user, or the file
    // cannot be created. `outError` may be null.
    static std::shared_ptr<AVAssetWriter> assetWriterWithURL(const NSURL& url, AVFileType fileType,
                                                             NSErrorPtr* outError);
    ~AVAssetWriter();
    AVAssetWriter(const AVAssetWriter&) = delete;
    AVAssetWriter& operator=(const AVAssetWriter&) = delete;

    // Takes `input` (one audio input); ignored once writing has started or
    // when the writer already has an input.
    void addInput(const std::shared_ptr<AVAssetWriterInput>& input);
    bool canAddInput(const std::shared_ptr<AVAssetWriterInput>& input) const;
    // Writes the header; the status becomes Writing, or Failed with an error.
    bool startWriting();
    // Starts the timeline. Samples are always laid from the start of the file;
    // the time only marks the session as started.
    void startSessionAtSourceTime(CMTime time);
    // Flushes, completes the header and closes the file; returns once the file
    // is complete. A writer that is not Writing is left as it is (returns false).
    bool finishWriting();

    AVAssetWriterStatus status() const { return status_; }
    NSErrorPtr error() const { return error_; }
    const NSURL& outputURL() const { return url_; }

    // Frames written to the file so far (after conversion).
    uint64_t writtenFrameCount() const;

private:
    friend class AVAssetWriterInput;
    AVAssetWriter(NSURL url, std::unique_ptr<media::WaveFileWriter> file,
                  std::unique_ptr<platform::files::CreatedFileRecord> record);
    // Appends one converted buffer; called by the input.
    bool appendFromInput(AVAssetWriterInput& input, CMSampleBufferRef buffer);
    void fail(NSErrorPtr error);

    NSURL url_;
    std::unique_ptr<media::WaveFileWriter> file_;
    std::unique_ptr<platform::files::CreatedFileRecord> record_;
    std::shared_ptr<AVAssetWriterInput> input_;
    AVAssetWriterStatus status_ = AVAssetWriterStatus::Unknown;
    NSErrorPtr error_;
    NSErrorPtr notWritingError_;  // made by the first append that finds the writer not writing
    bool sessionStarted_ = false;
};
