#include "RecordingInspector.h"

#include <sys/stat.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include <sndfile.h>

namespace host {
namespace {

std::string containerName(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV: return "WAV";
        case SF_FORMAT_WAVEX: return "WAV (extensible)";
        case SF_FORMAT_RF64: return "RF64";
        default: return "other";
    }
}

struct Encoding {
    std::string name;
    int bits;  // 0 for float
};

Encoding encodingOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8: return {"8-bit integer", 8};
        case SF_FORMAT_PCM_S8: return {"8-bit integer", 8};
        case SF_FORMAT_PCM_16: return {"16-bit integer", 16};
        case SF_FORMAT_PCM_24: return {"24-bit integer", 24};
        case SF_FORMAT_PCM_32: return {"32-bit integer", 32};
        case SF_FORMAT_FLOAT: return {"32-bit float", 0};
        case SF_FORMAT_DOUBLE: return {"64-bit float", 0};
        default: return {"other", 0};
    }
}

double toDbfs(double level) {
    return level > 0 ? 20.0 * std::log10(level) : -std::numeric_limits<double>::infinity();
}

}  // namespace

std::optional<FileIdentity> identifyFile(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
                        static_cast<int64_t>(status.st_size),
                        static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

RecordingFacts inspectRecording(const std::string& path) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info), &sf_close);
    if (!file) throw std::runtime_error("cannot read the recording \"" + path + "\": " + sf_strerror(nullptr));
    const Encoding encoding = encodingOf(info.format);
    RecordingFacts facts;
    facts.path = path;
    facts.container = containerName(info.format);
    facts.encoding = encoding.name;
    facts.sampleRate = static_cast<uint32_t>(info.samplerate);
    facts.channels = static_cast<uint32_t>(info.channels);

    // Integer samples read back exactly (code / 2^(N-1)); the largest code is
    // where an encoder saturates.
    const double largest = encoding.bits > 0 ? 1.0 - std::ldexp(1.0, 1 - encoding.bits) : 1.0;
    std::vector<double> chunk(static_cast<size_t>(65536) * static_cast<size_t>(std::max(info.channels, 1)));
    double peak = 0;
    double sumOfSquares = 0;
    int64_t frames = 0;
    while (true) {
        const sf_count_t got = sf_readf_double(file.get(), chunk.data(), 65536);
        if (got <= 0) break;
        frames += got;
        for (size_t i = 0; i < static_cast<size_t>(got) * static_cast<size_t>(info.channels); ++i) {
            const double magnitude = std::fabs(chunk[i]);
            peak = std::max(peak, magnitude);
            sumOfSquares += chunk[i] * chunk[i];
            if (chunk[i] >= largest || chunk[i] <= -1.0) ++facts.fullScaleSamples;
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        throw std::runtime_error("reading the recording \"" + path + "\" failed: " + sf_strerror(file.get()));
    facts.frames = frames;
    facts.seconds = info.samplerate > 0 ? static_cast<double>(frames) / info.samplerate : 0;
    const double samples = static_cast<double>(frames) * info.channels;
    facts.peakDbfs = toDbfs(peak);
    facts.rmsDbfs = samples > 0 ? toDbfs(std::sqrt(sumOfSquares / samples)) : toDbfs(0);
    return facts;
}

}  // namespace host
