#include "ReaderSource.h"

#include <soxr.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "ChannelMix.h"
#include "host/HostError.h"

namespace host {
namespace {
constexpr size_t kInputChunkFrames = 4096;
}

ReaderSource::ReaderSource(std::unique_ptr<PcmReader> reader) : reader_(std::move(reader)) {}

ReaderSource::~ReaderSource() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
}

size_t ReaderSource::supplyInput(void* state, const void** data, size_t requested) {
    auto& self = *static_cast<ReaderSource*>(state);
    const size_t frames = std::min(requested, kInputChunkFrames);
    if (self.input_.size() < frames * self.reader_->channels()) self.input_.resize(frames * self.reader_->channels());
    *data = self.input_.data();
    try {
        return self.reader_->read(self.input_.data(), frames);
    } catch (...) {
        // Exceptions must not cross the resampler's C frames: keep it for later.
        self.inputFailure_ = std::current_exception();
        *data = nullptr;
        return 0;
    }
}

size_t ReaderSource::readNative(double* out, size_t frames, double sampleRate) {
    if (sampleRate == reader_->sampleRate()) {
        size_t done = 0;
        while (done < frames) {
            const size_t got = reader_->read(out + done * reader_->channels(), frames - done);
            if (got == 0) break;
            done += got;
        }
        return done;
    }
    if (resampler_ == nullptr || resamplerRate_ != sampleRate) {
        if (resampler_ != nullptr) soxr_delete(resampler_);
        resampler_ = nullptr;
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_t created = soxr_create(reader_->sampleRate(), sampleRate, reader_->channels(), &error, &io,
                                     &quality, nullptr);
        if (created == nullptr || error != nullptr)
            throw sourceError(std::string("cannot resample the source: ") + soxr_strerror(error));
        resampler_ = created;
        resamplerRate_ = sampleRate;
        soxr_set_input_fn(resampler_, &ReaderSource::supplyInput, this,
                          kInputChunkFrames);
    }
    size_t done = 0;
    while (done < frames) {
        const size_t got = soxr_output(resampler_, out + done * reader_->channels(), frames - done);
        if (inputFailure_) std::rethrow_exception(std::exchange(inputFailure_, nullptr));
        if (got == 0) break;
        done += got;
    }
    return done;
}

size_t ReaderSource::read(std::span<double> out, size_t frames, double sampleRate, uint32_t channels) {
    if (channels == 0 || out.size() / channels < frames)
        throw std::invalid_argument("the output cannot hold the frames asked for");
    if (channels == reader_->channels()) return readNative(out.data(), frames, sampleRate);
    if (native_.size() < frames * reader_->channels()) native_.resize(frames * reader_->channels());
    const size_t got = readNative(native_.data(), frames, sampleRate);
    mixChannels(native_.data(), reader_->channels(), out.data(), channels, got);
    return got;
}

bool ReaderSource::deliversCodes16(double sampleRate, uint32_t channels) const {
    return reader_->holdsCodes16() && sampleRate == reader_->sampleRate() && channels == reader_->channels();
}

size_t ReaderSource::readCodes16(std::span<int16_t> out, size_t frames, double sampleRate, uint32_t channels) {
    if (!deliversCodes16(sampleRate, channels)) return AudioSource::readCodes16(out, frames, sampleRate, channels);
    if (out.size() / channels < frames) throw std::invalid_argument("the output cannot hold the frames asked for");
    size_t done = 0;
    while (done < frames) {
        const size_t got = reader_->readCodes16(out.data() + done * channels, frames - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

}  // namespace host
