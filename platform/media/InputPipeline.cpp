#include "InputPipeline.h"

#include <algorithm>
#include <cstring>

#include "platform/pcm/ChannelRemix.h"

namespace media {
namespace {

// Samples converted per pass through scratch: small enough to stay in cache.
constexpr size_t kChunkSamples = 16384;

bool sameDescription(const AudioStreamBasicDescription& a, const AudioStreamBasicDescription& b) {
    return a.mSampleRate == b.mSampleRate && a.mFormatID == b.mFormatID && a.mFormatFlags == b.mFormatFlags &&
           a.mBytesPerPacket == b.mBytesPerPacket && a.mFramesPerPacket == b.mFramesPerPacket &&
           a.mBytesPerFrame == b.mBytesPerFrame && a.mChannelsPerFrame == b.mChannelsPerFrame &&
           a.mBitsPerChannel == b.mBitsPerChannel;
}

// How a WAVE file stores samples of `bits`: little-endian, 8-bit unsigned, wider signed.
pcm::SampleEncoding waveSamples(uint16_t bits) {
    const auto kind = bits == 8 ? pcm::SampleKind::UnsignedInt : pcm::SampleKind::SignedInt;
    return {kind, static_cast<uint8_t>(bits / 8), static_cast<uint8_t>(bits), false, false};
}

template <typename T>
void ensureSize(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
}

}  // namespace

InputPipeline::InputPipeline(const WaveFormat& output)
    : output_(output), out_(pcm::codecFor(waveSamples(output.bitsPerSample))) {}

AppendOutcome InputPipeline::append(CMSampleBufferRef buffer, WaveFileWriter& file) {
    const AudioStreamBasicDescription* description =
        CMAudioFormatDescriptionGetStreamBasicDescription(CMSampleBufferGetFormatDescription(buffer));
    if (description == nullptr) return AppendOutcome::Refused;  // no buffer, or no audio in it

    pcm::StreamLayout layout = layout_;
    const bool known = haveFormat_ && sameDescription(*description, description_);
    if (!known && !pcm::layoutFromDescription(*description, layout)) return AppendOutcome::Refused;
    const std::span<const AudioBuffer> buffers = CMSampleBufferGetAudioBuffers(buffer);
    const CMItemCount frames = CMSampleBufferGetNumSamples(buffer);
    if (!pcm::buffersHoldFrames(layout, buffers, frames)) return AppendOutcome::Refused;
    // An empty buffer changes nothing; its format is taken up by the first
    // buffer of that format that brings audio (whose size bounds the scratch).
    if (frames == 0) return AppendOutcome::Appended;
    if (!known) {
        if (!file.isWriting()) return AppendOutcome::WriteFailed;
        if (!adopt(*description, layout, file)) {
            return file.isWriting() ? AppendOutcome::Refused : AppendOutcome::WriteFailed;
        }
    }

    // Frame counts fit in size_t: each buffer holds them in at most 4 GiB.
    const auto count = static_cast<size_t>(frames);
    bool written = false;
    switch (route_) {
        case Route::Direct: written = convertDirect(buffers, count, file); break;
        case Route::IntegerPasses: written = convertIntegers(buffers, count, file); break;
        case Route::RealPasses: written = convertReals(buffers, count, file); break;
        case Route::Adapt: written = adapt(buffers, count, file); break;
    }
    return written ? AppendOutcome::Appended : AppendOutcome::WriteFailed;
}

bool InputPipeline::adopt(const AudioStreamBasicDescription& description, const pcm::StreamLayout& layout,
                          WaveFileWriter& file) {
    const bool sameRate = layout.sampleRate == static_cast<double>(output_.sampleRate);
    const double ratio = layout.sampleRate / output_.sampleRate;
    if (!sameRate && (ratio > kMaxRateRatio || ratio < 1.0 / kMaxRateRatio)) return false;
    // The resampler holds audio of the old rate: it goes to the file first,
    // unless the new buffers keep that rate.
    const bool keepsResampler = !sameRate && resampler_.inputRate() == layout.sampleRate;
    haveFormat_ = false;
    if (resampler_.active() && !keepsResampler && !flushResampler(file)) return false;
    if (!chooseRoute(layout, file.maxReservationBytes())) return false;
    description_ = description;
    layout_ = layout;
    haveFormat_ = true;
    return true;
}

bool InputPipeline::chooseRoute(const pcm::StreamLayout& layout, size_t reservableBytes) {
    const bool sameRate = layout.sampleRate == static_cast<double>(output_.sampleRate);
    const bool sameChannels = layout.channels == output_.channels;
    const size_t reservableFrames = std::max<size_t>(1, reservableBytes / output_.blockAlign());
    const size_t widest = std::max<size_t>(layout.channels, output_.channels);
    // Passes through scratch take as many frames as stay in cache.
    chunkFrames_ = std::min(std::max<size_t>(1, kChunkSamples / widest), reservableFrames);
    in_ = pcm::codecFor(layout.sample);
    direct_ = sameRate && sameChannels && layout.contiguous()
                  ? pcm::selectDirectConverter(layout.sample, output_.bitsPerSample)
                  : nullptr;
    if (direct_ != nullptr) {
        route_ = Route::Direct;
        chunkFrames_ = reservableFrames;
    } else if (sameRate && sameChannels && layout.sample.kind != pcm::SampleKind::Float) {
        route_ = Route::IntegerPasses;
        ensureSize(intScratch_, chunkFrames_ * layout.channels);
    } else if (sameRate && sameChannels) {
        route_ = Route::RealPasses;
        ensureSize(realScratch_, chunkFrames_ * layout.channels);
    } else {
        route_ = Route::Adapt;
        ensureSize(realScratch_, chunkFrames_ * layout.channels);
        if (!sameChannels) ensureSize(mixScratch_, chunkFrames_ * output_.channels);
        if (!sameRate && !resampler_.active()) {
            const size_t pieceFrames =
                std::min(std::max<size_t>(1, kChunkSamples / output_.channels), reservableFrames);
            return resampler_.configure(layout.sampleRate, output_.sampleRate, output_.channels, pieceFrames);
        }
    }
    return true;
}

bool InputPipeline::flushResampler(WaveFileWriter& file) {
    resampleTarget_ = &file;
    const bool flushed = resampler_.flush(&InputPipeline::writeResampled, this);
    resampleTarget_ = nullptr;
    return flushed;
}

template <typename T, typename Decode>
void InputPipeline::decodeChunk(std::span<const AudioBuffer> buffers, size_t first, size_t count, Decode decode,
                                T* out) const {
    const pcm::StreamLayout& l = layout_;
    if (l.contiguous()) {
        const auto* src = static_cast<const uint8_t*>(buffers[0].mData) + first * l.bytesPerFrame;
        decode(src, count * l.channels, out, 1);
        return;
    }
    for (uint32_t c = 0; c < l.channels; ++c) {
        const auto* src = static_cast<const uint8_t*>(buffers[c].mData) + first * l.bytesPerFrame;
        decode(src, count, out + c, l.channels);
    }
}

bool InputPipeline::convertDirect(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file) {
    const auto* src = static_cast<const uint8_t*>(buffers[0].mData);
    const uint32_t inFrameBytes = layout_.bytesPerFrame;
    const uint32_t outFrameBytes = output_.blockAlign();
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(chunkFrames_, frames - done);
        uint8_t* dst = file.reserve(n * outFrameBytes);
        if (dst == nullptr) return false;
        direct_(src + done * inFrameBytes, n * output_.channels, dst);
        if (!file.commit(n)) return false;
        done += n;
    }
    return true;
}

bool InputPipeline::convertIntegers(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file) {
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(chunkFrames_, frames - done);
        decodeChunk(buffers, done, n, in_.decodeInt, intScratch_.data());
        uint8_t* dst = file.reserve(n * output_.blockAlign());
        if (dst == nullptr) return false;
        out_.encodeInt(intScratch_.data(), n * output_.channels, dst);
        if (!file.commit(n)) return false;
        done += n;
    }
    return true;
}

bool InputPipeline::convertReals(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file) {
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(chunkFrames_, frames - done);
        decodeChunk(buffers, done, n, in_.decodeReal, realScratch_.data());
        if (!writeReal(realScratch_.data(), n, file)) return false;
        done += n;
    }
    return true;
}

bool InputPipeline::adapt(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file) {
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(chunkFrames_, frames - done);
        decodeChunk(buffers, done, n, in_.decodeReal, realScratch_.data());
        const double* mixed = realScratch_.data();
        if (layout_.channels != output_.channels) {
            pcm::remixChannels(realScratch_.data(), layout_.channels, mixScratch_.data(), output_.channels, n);
            mixed = mixScratch_.data();
        }
        bool ok = true;
        if (resampler_.active()) {
            resampleTarget_ = &file;
            ok = resampler_.process(mixed, n, &InputPipeline::writeResampled, this);
            resampleTarget_ = nullptr;
        } else {
            ok = writeReal(mixed, n, file);
        }
        if (!ok) return false;
        done += n;
    }
    return true;
}

bool InputPipeline::writeReal(const double* samples, size_t frames, WaveFileWriter& file) {
    uint8_t* dst = file.reserve(frames * output_.blockAlign());
    if (dst == nullptr) return false;
    out_.encodeReal(samples, frames * output_.channels, dst);
    return file.commit(frames);
}

bool InputPipeline::writeResampled(void* self, const double* frames, size_t count) {
    auto* pipeline = static_cast<InputPipeline*>(self);
    return pipeline->writeReal(frames, count, *pipeline->resampleTarget_);
}

bool InputPipeline::finish(WaveFileWriter& file) {
    if (!resampler_.active()) return true;
    // The next buffer of this format needs a resampler again.
    haveFormat_ = false;
    return flushResampler(file);
}

}  // namespace media
