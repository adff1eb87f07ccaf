#include "AVAssetWriter.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "AVAssetWriterInput.h"
#include "../files/CreatedFiles.h"
#include "InputPipeline.h"
#include "wave/ByteSink.h"
#include "wave/PrivateFileCreation.h"
#include "wave/WaveFileWriter.h"

namespace {

// The error for a write the file refused: a full disk (or file size limit)
// gets AVErrorDiskFull, anything else AVErrorUnknown; both carry the path
// and the system's reason.
NSErrorPtr writeError(int errnum, const std::string& path) {
    const bool full = errnum == ENOSPC || errnum == EFBIG || errnum == EDQUOT;
    const NSErrorPtr posix = NSError::errorWithPOSIXCode(errnum, "write", path);
    NSError::UserInfo info{
        {std::string(NSLocalizedDescriptionKey),
         std::string(full ? "The recording stopped because there is no room left for the file: "
                          : "The recording stopped because the file couldn\u2019t be written: ") +
             std::strerror(errnum) + "."},
        {std::string(NSLocalizedFailureReasonErrorKey), std::strerror(errnum)},
        {std::string(NSFilePathErrorKey), path},
        {std::string(NSUnderlyingErrorKey), std::string(posix->userInfoValue(NSUnderlyingErrorKey))}};
    return std::make_shared<NSError>(AVFoundationErrorDomain, full ? AVErrorDiskFull : AVErrorUnknown,
                                     std::move(info));
}

}  // namespace

std::shared_ptr<AVAssetWriter> AVAssetWriter::assetWriterWithURL(const NSURL& url, AVFileType fileType,
                                                                 NSErrorPtr* outError) {
    auto report = [&](NSErrorPtr error) -> std::shared_ptr<AVAssetWriter> {
        if (outError != nullptr) *outError = std::move(error);
        return nullptr;
    };
    if (fileType != AVFileTypeWAVE) {
        return report(NSError::errorWithDescription(
            AVFoundationErrorDomain, AVErrorUnknown,
            "The file type \u201C" + std::string(fileType) + "\u201D isn\u2019t supported; this writer writes WAVE files.",
            url.path()));
    }
    media::CreatedFile created = media::createFileInPrivateDirectory(url.path());
    if (created.fd < 0) return report(created.error);
    // A second descriptor outlives the writing one, which finishing closes.
    auto record = std::make_unique<platform::files::CreatedFileRecord>(
        url.path(), platform::files::UniqueDescriptor(::fcntl(created.fd, F_DUPFD_CLOEXEC, 0)));
    auto file = std::make_unique<media::WaveFileWriter>(
        std::make_unique<media::FileDescriptorSink>(created.fd));
    return std::shared_ptr<AVAssetWriter>(new AVAssetWriter(url, std::move(file), std::move(record)));
}

AVAssetWriter::AVAssetWriter(NSURL url, std::unique_ptr<media::WaveFileWriter> file,
                             std::unique_ptr<platform::files::CreatedFileRecord> record)
    : url_(std::move(url)), file_(std::move(file)), record_(std::move(record)) {}

AVAssetWriter::~AVAssetWriter() {
    if (input_) input_->owner_ = nullptr;
}

bool AVAssetWriter::canAddInput(const std::shared_ptr<AVAssetWriterInput>& input) const {
    return input != nullptr && status_ == AVAssetWriterStatus::Unknown && !input_ &&
           input->owner_ == nullptr;
}

void AVAssetWriter::addInput(const std::shared_ptr<AVAssetWriterInput>& input) {
    if (!canAddInput(input)) return;
    input_ = input;
    input_->owner_ = this;
}

bool AVAssetWriter::startWriting() {
    if (status_ != AVAssetWriterStatus::Unknown) return false;
    if (!input_) {
        fail(NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown,
                                           "The writer has no input to write.", url_.path()));
        return false;
    }
    if (!file_->begin(input_->pipeline_->outputFormat())) {
        fail(writeError(file_->errorNumber(), url_.path()));
        return false;
    }
    status_ = AVAssetWriterStatus::Writing;
    return true;
}

void AVAssetWriter::startSessionAtSourceTime(CMTime) {
    if (status_ == AVAssetWriterStatus::Writing) sessionStarted_ = true;
}

bool AVAssetWriter::appendFromInput(AVAssetWriterInput& input, CMSampleBufferRef buffer) {
    if (status_ != AVAssetWriterStatus::Writing) {
        // Buffers after the finish or a failure all come here: the error is
        // made once per writer, not once per buffer.
        if (!notWritingError_)
            notWritingError_ = NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown,
                                                             "The writer isn\u2019t writing.", url_.path());
        input.lastAppendError_ = notWritingError_;
        return false;
    }
    switch (input.pipeline_->append(buffer, *file_)) {
        case media::AppendOutcome::Appended: return true;
        case media::AppendOutcome::Refused:
            input.lastAppendError_ = input.refusalError(input.pipeline_->lastProblem());
            return false;
        case media::AppendOutcome::WriteFailed: break;
    }
    fail(writeError(file_->errorNumber(), url_.path()));
    input.lastAppendError_ = error_;
    return false;
}

void AVAssetWriter::fail(NSErrorPtr error) {
    status_ = AVAssetWriterStatus::Failed;
    error_ = std::move(error);
}

bool AVAssetWriter::finishWriting() {
    if (status_ == AVAssetWriterStatus::Failed) {
        // After a failed write the file still gets a header for what it holds.
        file_->finish();
        return false;
    }
    if (status_ != AVAssetWriterStatus::Writing) return false;
    const bool drained = input_->pipeline_->finish(*file_);
    if (drained && file_->finish()) {
        status_ = AVAssetWriterStatus::Completed;
        return true;
    }
    fail(writeError(file_->errorNumber(), url_.path()));
    file_->finish();
    return false;
}

uint64_t AVAssetWriter::writtenFrameCount() const { return file_->frameCount(); }
