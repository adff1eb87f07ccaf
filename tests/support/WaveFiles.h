#pragma once
// WAVE files written and read back through the project's own file writer
// and reader. Samples are left-justified: full scale 2^31 at any width.

#include <fcntl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/wave/WaveFileReader.h"
#include "platform/media/wave/WaveFileWriter.h"
#include "platform/pcm/SampleCodecs.h"

namespace testing_support {

// Writes interleaved whole frames as a complete file.
inline bool writeWave(const std::string& path, const media::WaveFormat& format, const std::vector<int32_t>& samples) {
    pcm::SampleEncoding stored{format.bitsPerSample == 8 ? pcm::SampleKind::UnsignedInt : pcm::SampleKind::SignedInt,
                               static_cast<uint8_t>(format.bitsPerSample / 8),
                               static_cast<uint8_t>(format.bitsPerSample)};
    const auto encode = pcm::codecFor(stored).encodeInt;
    media::WaveFileWriter writer(std::make_unique<media::FileDescriptorSink>(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)));
    if (encode == nullptr || samples.size() % format.channels != 0 || !writer.begin(format)) return false;
    const size_t step = writer.maxReservationBytes() / format.blockAlign() * format.channels;
    for (size_t done = 0; done < samples.size(); done += step) {
        const size_t count = std::min(step, samples.size() - done);
        uint8_t* out = writer.reserve(count / format.channels * format.blockAlign());
        if (out == nullptr) return false;
        encode(samples.data() + done, count, out);
        writer.commit(count / format.channels);
    }
    return writer.finish();
}

// A file as the reader sees it, with every sample it reads.
struct WaveReadBack {
    media::wave::WaveStatus status;
    media::wave::WaveDescription description;
    std::vector<int32_t> samples;
    std::vector<double> reals;  // full scale 1

    uint64_t frames() const { return description.frames(); }
};

inline WaveReadBack readWave(const std::string& path) {
    media::wave::WaveFileReader file(path);
    WaveReadBack r{file.status(), file.description(), {}, {}};
    std::vector<int32_t> block(std::max<size_t>(4096, r.description.channels));
    for (size_t n; (n = file.readSamples(block)) > 0;)
        r.samples.insert(r.samples.end(), block.begin(), block.begin() + n);
    for (const int32_t s : r.samples) r.reals.push_back(s * 0x1p-31);
    return r;
}

}  // namespace testing_support
