#include "AVAssetWriter.h"

#include <cerrno>
#include <cstring>

#include "../files/CreatedFiles.h"
#include "../files/PrivateFileCreation.h"
#include "AVAssetWriterInput.h"
#include "wave/ByteSink.h"
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
    return std::make_shared<NSError>(AVFoundationErrorDomain, full ? AVErrorDiskFull : AVErrorUnknown, std::move(info));
}

}  // namespace

std::shared_ptr<AVAssetWriter> AVAssetWriter::assetWriterWithURL(const NSURL& url, AVFileType fileType,
                                                                 NSErrorPtr* outError) {
    auto report = [&](NSErrorPtr error) -> std::shared_ptr<AVAssetWriter> {
        if (outError != nullptr) *outError = std::move(error);
        return nullptr;
    };
    if (fileType != AVFileTypeWAVE) {
        return report(NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown,
                                                    "The file type \u201C" + std::string(fileType) +
                                                        "\u201D isn\u2019t supported; this writer writes WAVE files.",
                                                    url.path()));
    }
    platform::files::CreatedFile created = platform::files::createFileInPrivateDirectory(url.path());
    if (created.fd < 0) return report(created.error);
    // The record's own descriptor outlives the writing one, which finishing closes.
    auto record = std::make_unique<platform::files::CreatedFileRecord>(url.path(), created.fd);
    auto file = std::make_unique<media::WaveFileWriter>(std::make_unique<media::FileDescriptorSink>(created.fd));
    return std::shared_ptr<AVAssetWriter>(new AVAssetWriter(url.path(), std::move(file), std::move(record)));
}

AVAssetWriter::AVAssetWriter(std::string path, std::unique_ptr<media::WaveFileWriter> file,
                             std::unique_ptr<platform::files::CreatedFileRecord> record)
    : path_(std::move(path)), file_(std::move(file)), record_(std::move(record)) {}

AVAssetWriter::~AVAssetWriter() {
    // The input may outlive its writer; its appends end with the file.
    if (input_) input_->stopWriting(*file_);
}

void AVAssetWriter::addInput(const std::shared_ptr<AVAssetWriterInput>& input) {
    if (input && status_ == AVAssetWriterStatus::Unknown && !input_) input_ = input;
}

bool AVAssetWriter::startWriting() {
    if (status_ != AVAssetWriterStatus::Unknown) return false;
    if (!input_) {
        fail(NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown, "The writer has no input to write.",
                                           path_));
        return false;
    }
    if (!input_->beginWriting(*file_)) {
        fail(file_->hasFailed() ? writeError(file_->errorNumber(), path_)
                                : NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnknown,
                                                                "The input is writing another file.", path_));
        return false;
    }
    status_ = AVAssetWriterStatus::Writing;
    return true;
}

void AVAssetWriter::startSessionAtSourceTime(CMTime) {}

bool AVAssetWriter::finishWriting() {
    if (status_ == AVAssetWriterStatus::Writing) {
        const bool drained = input_->markAsFinished();
        const bool finished = file_->finish();
        status_ = drained && finished ? AVAssetWriterStatus::Completed : AVAssetWriterStatus::Failed;
    } else if (status_ == AVAssetWriterStatus::Failed) {
        file_->finish();  // a writer that failed to start completes what it wrote of the header
    } else {
        return false;
    }
    // A write that failed (a full disk, a file-size limit) left the file
    // complete up to the failure: a copy of it carries the reason.
    if (file_->errorNumber() != 0) record_->noteCutShort(error()->localizedDescription());
    return status_ == AVAssetWriterStatus::Completed;
}

AVAssetWriterStatus AVAssetWriter::status() const {
    return status_ == AVAssetWriterStatus::Writing && file_->hasFailed() ? AVAssetWriterStatus::Failed : status_;
}

NSErrorPtr AVAssetWriter::error() const {
    if (!error_ && status() == AVAssetWriterStatus::Failed) error_ = writeError(file_->errorNumber(), path_);
    return error_;
}

void AVAssetWriter::fail(NSErrorPtr error) {
    status_ = AVAssetWriterStatus::Failed;
    error_ = std::move(error);
}
