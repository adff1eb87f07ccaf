#include "BManager.h"

#include <cstdio>
#include <optional>
#include <string>

#include "OutputSettings.h"
#include "platform/files/NSFileManager.h"
#include "platform/foundation/NSURL.h"
#include "platform/log/NSLog.h"
#include "signals/BroadcastSignals.h"

std::shared_ptr<AVAssetWriter> writer;
std::shared_ptr<AVAssetWriterInput> writerInput;

namespace {

constexpr std::string_view kTemporaryRecordingName = "tempfile.wav";
constexpr std::string_view kSharedRecordingName = "NewRecording.wav";
constexpr std::string_view kAppGroupIdentifier = "group.tolvix";

// The first problem that kept this broadcast from setting up a recording.
// Every later app-audio buffer would meet the same problem, so it is logged
// once per broadcast rather than once per buffer, and the finish names it
// when nothing was recorded.
//
// A third process-wide variable beside `writer` and `writerInput`, kept on
// purpose: when no input can be made, set-up runs again for every buffer
// (whether set-up is due is decided by `writerInput` alone), and without a
// memory of the problem each of them, fifty a second, would log it. Cleared
// with the other two at each broadcast start, and read on this thread only.
NSErrorPtr setUpProblem;

void noteSetUpProblem(NSErrorPtr error) {
    if (setUpProblem) return;
    setUpProblem = std::move(error);
    NSLog("errb %@", setUpProblem->localizedDescription());
}

NSURL temporaryRecordingURL() {
    return NSURL::fileURLWithPath(stringByAppendingPathComponent(NSTemporaryDirectory(), kTemporaryRecordingName));
}

NSErrorPtr missingFormatError() {
    return NSError::errorWithDescription(
        AVFoundationErrorDomain, AVErrorUnknown,
        "Cannot set up the recording: the app-audio buffer has no audio stream description.");
}

NSErrorPtr unrecordableFormatError(const AudioStreamBasicDescription& d) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Cannot set up the recording: %g Hz, %u channels, %u bits per channel cannot be "
                  "written as integer linear PCM.",
                  d.mSampleRate, d.mChannelsPerFrame, d.mBitsPerChannel);
    return NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorUnsupportedOutputSettings, text);
}

NSErrorPtr noRecordingError(const NSURL& source) {
    const std::string reason = setUpProblem ? setUpProblem->localizedDescription()
                                            : "the broadcast delivered no app audio that could be recorded.";
    return NSError::errorWithDescription(AVFoundationErrorDomain, AVErrorNoDataCaptured,
                                         "No recording was made: " + reason, source.path());
}

}  // namespace

void BManager::startBroadcast() {
    writerInput = nullptr;
    writer = nullptr;
    setUpProblem = nullptr;
}

void BManager::pushAudioSampleBuffer(CMSampleBufferRef buffer) {
    if (!writerInput) BManager::creaw(buffer);
    if (writerInput) writerInput->appendSampleBuffer(buffer);
}

void BManager::creaw(CMSampleBufferRef buffer) {
    const AudioStreamBasicDescription* description =
        CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
    if (description == nullptr) {
        noteSetUpProblem(missingFormatError());
        return;
    }
    const NSDictionary outputSettings = outputSettingsForStreamDescription(*description);

    const NSURL url = temporaryRecordingURL();
    NSFileManager::defaultManager().removeItemAtURL(url, nullptr);

    NSErrorPtr error;
    writer = AVAssetWriter::assetWriterWithURL(url, AVFileTypeWAVE, &error);
    if (error) noteSetUpProblem(std::move(error));

    writerInput = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, outputSettings);
    if (!writerInput) noteSetUpProblem(unrecordableFormatError(*description));

    if (writer) {
        writer->addInput(writerInput);
        writer->startWriting();
        writer->startSessionAtSourceTime(kCMTimeZero);
    }
}

void BManager::endBroadcast() {
    // Only a recording this broadcast made is handed over: without a writer
    // and its input, whatever "tempfile.wav" is left belongs to an earlier one.
    const bool recorded = writer && writerInput;
    if (writer) {
        writer->finishWriting();
        // A writer that failed while recording (a full disk) has completed
        // the file up to the failure: that part is still handed over, and
        // the failure is logged so that the shortened recording is explained.
        if (recorded && writer->status() == AVAssetWriterStatus::Failed && writer->error())
            NSLog("errb %@", writer->error()->localizedDescription());
    }

    const NSURL source = temporaryRecordingURL();
    NSFileManager& fileManager = NSFileManager::defaultManager();
    const std::optional<NSURL> container =
        fileManager.containerURLForSecurityApplicationGroupIdentifier(kAppGroupIdentifier);
    const std::optional<NSURL> destination =
        container ? std::optional(container->URLByAppendingPathComponent(kSharedRecordingName)) : std::nullopt;

    fileManager.removeItemAtURL(destination, nullptr);

    NSErrorPtr error;
    if (recorded)
        fileManager.copyItemAtURL(source, destination, &error);
    else
        error = noRecordingError(source);
    if (error) NSLog("++error %@", *error);

    postBroadcastSignal(kBroadcastEndSignal);
}

void BManager::endBroadcastError() { BManager::endBroadcast(); }
