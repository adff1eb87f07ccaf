#include "Resampler.h"

#include <soxr.h>

#include <new>

#include "platform/foundation/SharedLibrary.h"

namespace pcm {
namespace {

// libsoxr (and the OpenMP runtime it brings) is loaded by the first
// resampler: most recordings never change rate and never need it.
#define PCM_SOXR_FUNCTIONS(X) \
    X(soxr_create) X(soxr_delete) X(soxr_io_spec) X(soxr_process) X(soxr_quality_spec) X(soxr_runtime_spec)

struct Soxr {
    PCM_SOXR_FUNCTIONS(PLATFORM_LIBRARY_POINTER)
    std::string problem = platform::loadSharedLibrary("libsoxr.so.0", {PCM_SOXR_FUNCTIONS(PLATFORM_LIBRARY_SYMBOL)});
};

const Soxr& soxr() {
    static const Soxr library;
    return library;
}

}  // namespace

Resampler::~Resampler() { reset(); }

void Resampler::reset() {
    if (soxr_ != nullptr) soxr().soxr_delete(soxr_);
    soxr_ = nullptr;
    delete[] out_;
    out_ = nullptr;
    inputRate_ = 0;
    channels_ = 0;
    outFrames_ = 0;
}

bool Resampler::configure(double inputRate, double outputRate, uint32_t channels, size_t maxOutputFrames,
                          std::string* problem) {
    reset();
    const Soxr& lib = soxr();
    if (!lib.problem.empty()) {
        if (problem != nullptr) *problem = "The resampler couldn\u2019t be set up: " + lib.problem + ".";
        return false;
    }
    const soxr_io_spec_t io = lib.soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = lib.soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = lib.soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t s = lib.soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime);
    if (s == nullptr || error != nullptr) {
        if (s != nullptr) lib.soxr_delete(s);
        if (problem != nullptr)
            *problem = std::string("The resampler couldn\u2019t be set up: ") + soxr_strerror(error) + ".";
        return false;
    }
    soxr_ = s;
    inputRate_ = inputRate;
    channels_ = channels;
    outFrames_ = maxOutputFrames == 0 ? 1 : maxOutputFrames;
    out_ = new double[outFrames_ * channels_];
    return true;
}

bool Resampler::process(const double* frames, size_t count, Output output, void* context) {
    if (soxr_ == nullptr) return false;
    size_t consumed = 0;
    for (;;) {
        size_t used = 0;
        size_t made = 0;
        // A non-null input with no frames left still drains ready output;
        // only a null input would end the stream.
        if (soxr().soxr_process(soxr_, frames + consumed * channels_, count - consumed, &used, out_, outFrames_,
                                &made) != nullptr)
            return false;
        consumed += used;
        if (made > 0 && !output(context, out_, made)) return false;
        if (consumed == count && made < outFrames_) return true;
        if (used == 0 && made == 0) return false;  // no progress: never spin
    }
}

bool Resampler::flush(Output output, void* context) {
    if (soxr_ == nullptr) return true;
    bool ok = true;
    for (;;) {
        size_t made = 0;
        if (soxr().soxr_process(soxr_, nullptr, 0, nullptr, out_, outFrames_, &made) != nullptr) break;
        if (made == 0) break;
        if (!output(context, out_, made)) {
            ok = false;
            break;
        }
    }
    reset();
    return ok;
}

}  // namespace pcm
