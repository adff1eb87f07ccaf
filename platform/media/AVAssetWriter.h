#pragma once
// A media writer bound to one file URL and the WAVE file type. It creates the
// file exclusively when it is made and owns it; its one input converts the
// samples into it, end to end in arrival order from the start of the file;
// the writer completes the header when it finishes. A writer released
// without finishing leaves the file as far as it was last brought up to date.
// While the writer lives, a copy from its URL copies the file it wrote, even
// if the name was reused. The file is only ever written through the
// descriptor it was created with, never opened again by its name.

#include <memory>
#include <string>

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
    // when the file type is not WAVE, a file already exists at the URL (one
    // made by another process since this one asked the file manager to
    // remove the URL is replaced instead), the
    // URL's directory is not a private directory of this user, or the file
    // cannot be created. `outError` may be null.
    static std::shared_ptr<AVAssetWriter> assetWriterWithURL(const NSURL& url, AVFileType fileType,
                                                             NSErrorPtr* outError);
    ~AVAssetWriter();
    AVAssetWriter(const AVAssetWriter&) = delete;
    AVAssetWriter& operator=(const AVAssetWriter&) = delete;

    // Takes `input` (one audio input); ignored when null, once writing has
    // started, or when the writer already has an input.
    void addInput(const std::shared_ptr<AVAssetWriterInput>& input);
    // Has the input write the header; the status becomes Writing, or Failed
    // with an error (no input, an input writing another file, a failed write).
    bool startWriting();
    // Samples are always laid from the start of the file, whatever the time.
    void startSessionAtSourceTime(CMTime time);
    // Writes out what the input still holds, completes the header and closes
    // the file; returns once the file is complete. After a failed write the
    // header describes the whole frames that reached the file, the result is
    // false, and a copy of the file made through the file services reports
    // it as cut short, with the reason. A writer that is not Writing is left
    // as it is (false), except that one whose start failed completes what it
    // wrote of the header.
    bool finishWriting();

    // Failed as soon as a write of the file has failed.
    AVAssetWriterStatus status() const;
    NSErrorPtr error() const;

private:
    AVAssetWriter(std::string path, std::unique_ptr<media::WaveFileWriter> file,
                  std::unique_ptr<platform::files::CreatedFileRecord> record);
    void fail(NSErrorPtr error);

    std::string path_;
    std::unique_ptr<media::WaveFileWriter> file_;
    std::unique_ptr<platform::files::CreatedFileRecord> record_;
    std::shared_ptr<AVAssetWriterInput> input_;
    AVAssetWriterStatus status_ = AVAssetWriterStatus::Unknown;
    // Made when starting fails, or from the file's reason by the first look
    // after a write failed.
    mutable NSErrorPtr error_;
};
