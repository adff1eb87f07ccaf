#include "ReaderSource.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/HostError.h"
#include "platform/pcm/ChannelRemix.h"

namespace host {
namespace {
constexpr size_t kInputChunkFrames = 4096;
constexpr size_t kResampledPieceFrames = 4096;
}  // namespace

ReaderSource::ReaderSource(std::unique_ptr<PcmReader> reader) : reader_(std::move(reader)) {}

size_t ReaderSource::read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) {
    if (channels == 0 || out.size() / channels < frames)
        throw std::invalid_argument("the output cannot hold the frames asked for");
    const uint32_t native = reader_->channels();
    if (channels == native) return readNative(out.data(), frames, sampleRate);
    if (native_.size() < frames * native) native_.resize(frames * native);
    const size_t got = readNative(native_.data(), frames, sampleRate);
    pcm::remixChannels(native_.data(), native, out.data(), channels, got);
    return got;
}

size_t ReaderSource::readNative(double* out, size_t frames, double sampleRate) {
    if (sampleRate != reader_->sampleRate()) return readResampled(out, frames, sampleRate);
    resampledRate_ = 0;  // a later change of rate starts the resampler afresh
    size_t done = 0;
    while (done < frames) {
        const size_t got = reader_->read(out + done * reader_->channels(), frames - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

size_t ReaderSource::readResampled(double* out, size_t frames, double sampleRate) {
    const uint32_t channels = reader_->channels();
    if (sampleRate != resampledRate_) {
        // A new rate starts afresh: what the old one still held is dropped.
        std::string problem;
        if (!resampler_.configure(reader_->sampleRate(), sampleRate, channels, kResampledPieceFrames, &problem))
            throw sourceError("cannot resample the source: " + problem);
        resampledRate_ = sampleRate;
        pending_.clear();
        pendingAt_ = 0;
    }
    size_t done = takePending(out, frames);
    while (done < frames && !readerEnded_) {
        // Enough input for what is still wanted, so that little waits in pending_.
        const double wanted = std::ceil(static_cast<double>(frames - done) * reader_->sampleRate() / sampleRate);
        const size_t ask = std::clamp<size_t>(static_cast<size_t>(wanted), 1, kInputChunkFrames);
        if (input_.size() < ask * channels) input_.resize(ask * channels);
        const size_t got = reader_->read(input_.data(), ask);
        readerEnded_ = got == 0;
        const bool ok = readerEnded_ ? resampler_.flush(&ReaderSource::keep, this)
                                     : resampler_.process(input_.data(), got, &ReaderSource::keep, this);
        if (!ok) throw sourceError("resampling the source failed");
        done += takePending(out + done * channels, frames - done);
    }
    return done;
}

bool ReaderSource::keep(void* self, const double* frames, size_t count) {
    auto& source = *static_cast<ReaderSource*>(self);
    std::vector<double>& pending = source.pending_;
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(source.pendingAt_));
    source.pendingAt_ = 0;
    pending.insert(pending.end(), frames, frames + count * source.reader_->channels());
    return true;
}

size_t ReaderSource::takePending(double* out, size_t frames) {
    const uint32_t channels = reader_->channels();
    const size_t count = std::min(frames, (pending_.size() - pendingAt_) / channels);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pendingAt_), count * channels, out);
    pendingAt_ += count * channels;
    return count;
}

}  // namespace host
