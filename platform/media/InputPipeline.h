#pragma once
// Conversion of appended sample buffers to a WAVE file's format.
//
// The PCM toolkit's converters are chosen when a buffer's format differs
// from the last one, never per sample:
//   - same rate and channels, a one-pass converter exists: straight from the
//     buffer into the file's write buffer (the common case: the output
//     settings come from the first buffer);
//   - same rate and channels otherwise: decode into scratch, then encode
//     (integers stay integers, so widening is exact and narrowing rounds);
//   - another rate or channel count: decode to doubles, remix channels (see
//     platform/pcm/ChannelRemix.h), resample (one resampler while the input
//     rate stays; flushed when it changes and at the end), encode.
// Scratch space is sized when the format changes; appends of a known format
// allocate nothing.

#include <cstdint>
#include <vector>

#include "../buffers/CMSampleBuffer.h"
#include "platform/pcm/Resampler.h"
#include "platform/pcm/SampleCodecs.h"
#include "platform/pcm/StreamLayout.h"
#include "wave/WaveFileWriter.h"
#include "wave/WaveFormat.h"

namespace media {

enum class AppendOutcome { Appended, Refused, WriteFailed };

class InputPipeline {
public:
    // The widest input/output rate ratio accepted; beyond it a buffer is refused.
    static constexpr double kMaxRateRatio = 256.0;

    explicit InputPipeline(const WaveFormat& output);
    InputPipeline(const InputPipeline&) = delete;
    InputPipeline& operator=(const InputPipeline&) = delete;

    const WaveFormat& outputFormat() const { return output_; }

    // Converts `buffer` into `file`. Refused buffers leave the file untouched.
    AppendOutcome append(CMSampleBufferRef buffer, WaveFileWriter& file);
    // Passes on what the resampler still holds. Returns false if writing failed.
    bool finish(WaveFileWriter& file);

private:
    enum class Route { Direct, IntegerPasses, RealPasses, Adapt };

    // Takes up a new buffer format: what the resampler holds of another rate
    // goes to the file first, then the route is chosen.
    bool adopt(const AudioStreamBasicDescription& description, const pcm::StreamLayout& layout, WaveFileWriter& file);
    // The route for buffers of `layout` and the scratch space it needs; false
    // when the resampler it needs can't be made.
    bool chooseRoute(const pcm::StreamLayout& layout, size_t reservableBytes);
    // Passes on what the resampler holds, into `file`.
    bool flushResampler(WaveFileWriter& file);
    bool convertDirect(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file);
    bool convertIntegers(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file);
    bool convertReals(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file);
    bool adapt(std::span<const AudioBuffer> buffers, size_t frames, WaveFileWriter& file);
    template <typename T, typename Decode>
    void decodeChunk(std::span<const AudioBuffer> buffers, size_t first, size_t count, Decode decode, T* out) const;
    bool writeReal(const double* samples, size_t frames, WaveFileWriter& file);
    static bool writeResampled(void* self, const double* frames, size_t count);

    WaveFormat output_;

    bool haveFormat_ = false;
    AudioStreamBasicDescription description_{};
    pcm::StreamLayout layout_{};
    Route route_ = Route::Direct;
    size_t chunkFrames_ = 1;
    pcm::SampleCodec out_;  // the file's samples
    pcm::SampleCodec in_;   // the current buffers' samples
    pcm::DirectConverter direct_ = nullptr;

    std::vector<int32_t> intScratch_;
    std::vector<double> realScratch_;
    std::vector<double> mixScratch_;
    pcm::Resampler resampler_;
    WaveFileWriter* resampleTarget_ = nullptr;  // the file during a resampler call
};

}  // namespace media
