#include "BroadcastTally.h"

#include "host/progress/BufferLevel.h"
#include "platform/files/HandOverRecord.h"

namespace host {

BroadcastTally::BroadcastTally(std::string recordingPath, ProgressLine* progress) : progress_(progress) {
    report_.recordingPath = std::move(recordingPath);
}

void BroadcastTally::broadcastBegan(int broadcast) {
    BroadcastReport entry;
    entry.index = broadcast;
    report_.broadcasts.push_back(entry);
    handOversBefore_ = platform::files::lastHandOver().serial;
    removalsBefore_ = platform::files::containerRemovals();
    state_ = ProgressState{};
    state_.broadcast = broadcast;
    if (progress_ != nullptr) progress_->update(state_, true);
}

void BroadcastTally::bufferDelivered(const DeliveredBuffer& buffer, int64_t broadcastNanos) {
    BroadcastReport& entry = current();
    switch (buffer.buffer == nullptr ? 0 : buffer.type) {
        case RPSampleBufferTypeAudioApp:
            ++entry.buffers.app;
            if (buffer.sampleRate > 0) entry.appAudioSeconds += static_cast<double>(buffer.frames) / buffer.sampleRate;
            if (progress_ != nullptr && progress_->due()) state_.appLevelDbfs = peakDbfs(buffer.buffer);
            break;
        case RPSampleBufferTypeAudioMic: ++entry.buffers.mic; break;
        case RPSampleBufferTypeVideo: ++entry.buffers.video; break;
        default: ++entry.buffers.other; break;
    }
    entry.clippedByHost += buffer.clipped;
    if (buffer.live) {
        entry.live = true;
        entry.overruns += buffer.overruns.events;
        if (buffer.sampleRate > 0)
            entry.secondsLost += static_cast<double>(buffer.overruns.framesLost) / buffer.sampleRate;
    }
    state_.broadcastSeconds = static_cast<double>(broadcastNanos) / 1e9;
    state_.buffers = entry.buffers;
    state_.appAudioSeconds = entry.appAudioSeconds;
    if (progress_ != nullptr) progress_->update(state_);
}

void BroadcastTally::broadcastEnded(int, bool withError) {
    BroadcastReport& entry = current();
    entry.end = withError ? BroadcastReport::End::FinishedWithError : BroadcastReport::End::Finished;
    // Only a copy made since this broadcast began is its hand-over.
    const platform::files::HandOver handOver = platform::files::lastHandOver();
    const bool removed = platform::files::containerRemovals() != removalsBefore_;
    entry.recording = inspectHandOver(handOver.serial != handOversBefore_ ? &handOver : nullptr, removed);
    if (progress_ != nullptr) progress_->update(state_, true);
}

ExitCode BroadcastTally::exitStatus() const {
    ExitCode status = ExitCode::Ok;
    for (const BroadcastReport& entry : report_.broadcasts) {
        if (!entry.recording || entry.recording->status == toolkit::RecordingSummary::Status::Complete) continue;
        if (!entry.recording->cutShort) return ExitCode::NoRecording;
        status = ExitCode::CutShort;
    }
    return status;
}

}  // namespace host
