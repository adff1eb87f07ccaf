#pragma once
// Helpers for the media writer tests: a private temporary directory, sample
// buffers over test-owned bytes, output settings, and reading files back.

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/buffers/CMSampleBuffer.h"
#include "platform/foundation/NSDictionary.h"
#include "platform/media/AVAssetWriter.h"
#include "platform/media/AVAssetWriterInput.h"
#include "platform/media/AVAudioSettings.h"

namespace mediatest {

// A directory made with mkdtemp (mode 0700) under $TMPDIR or /tmp, removed
// with everything in it when the object goes.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/media-test-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) std::abort();
        path_ = buf.data();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline NSDictionary settingsFor(uint64_t rate, uint32_t bits, uint64_t channels) {
    return NSDictionary{{std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(0x6C70636D)},
                        {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(rate)},
                        {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(bits)},
                        {std::string(AVLinearPCMIsNonInterleaved), NSNumber::numberWithBool(false)},
                        {std::string(AVLinearPCMIsFloatKey), NSNumber::numberWithBool(false)},
                        {std::string(AVLinearPCMIsBigEndianKey), NSNumber::numberWithBool(false)},
                        {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(channels)}};
}

// A sample buffer whose data the object owns: one byte vector per AudioBuffer.
struct OwnedBuffer {
    CMSampleBuffer buffer;
    std::vector<std::vector<uint8_t>> planes;

    CMSampleBufferRef ref() {
        buffer.audioBuffers.clear();
        const auto& d = *buffer.formatDescription->streamDescription;
        const bool nonInterleaved = (d.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
        for (auto& p : planes)
            buffer.audioBuffers.push_back(AudioBuffer{nonInterleaved ? 1u : d.mChannelsPerFrame,
                                                      static_cast<uint32_t>(p.size()), p.data()});
        return &buffer;
    }
};

inline OwnedBuffer audioBuffer(const AudioStreamBasicDescription& d, int64_t frames,
                               std::vector<std::vector<uint8_t>> planes) {
    OwnedBuffer b;
    b.buffer.formatDescription = CMFormatDescription{CMMediaType::Audio, d};
    b.buffer.numSamples = frames;
    b.buffer.presentationTimeStamp = kCMTimeZero;
    b.planes = std::move(planes);
    return b;
}

template <typename T>
std::vector<uint8_t> bytesOf(const std::vector<T>& values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

// A float32 interleaved buffer of a sine at `hz`, starting at frame `start`.
inline OwnedBuffer sineFloatBuffer(double rate, uint32_t channels, int64_t frames, double hz,
                                   int64_t start, double amplitude = 0.5) {
    std::vector<float> samples(static_cast<size_t>(frames) * channels);
    for (int64_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < channels; ++c)
            samples[static_cast<size_t>(f) * channels + c] =
                static_cast<float>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(start + f) / rate));
    return audioBuffer(makeLinearPCMDescription(rate, channels, 32, kAudioFormatFlagIsFloat), frames,
                       {bytesOf(samples)});
}

struct Recording {
    std::shared_ptr<AVAssetWriter> writer;
    std::shared_ptr<AVAssetWriterInput> input;
};

// A writer and input set up the way the recorder does it.
inline Recording startRecording(const std::string& path, uint64_t rate, uint32_t bits, uint64_t channels) {
    Recording r;
    NSErrorPtr error;
    r.writer = AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(path), AVFileTypeWAVE, &error);
    r.input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settingsFor(rate, bits, channels));
    if (r.writer) {
        r.writer->addInput(r.input);
        r.writer->startWriting();
        r.writer->startSessionAtSourceTime(kCMTimeZero);
    }
    return r;
}

struct SoundFile {
    bool opened = false;
    SF_INFO info{};
    std::vector<int32_t> samples;  // as libsndfile scales them to int
    std::vector<double> reals;     // full scale +-1
};

inline SoundFile readSoundFile(const std::string& path) {
    SoundFile out;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &out.info);
    if (f == nullptr) return out;
    out.opened = true;
    out.samples.resize(static_cast<size_t>(out.info.frames) * static_cast<size_t>(out.info.channels));
    sf_readf_int(f, out.samples.data(), out.info.frames);
    sf_seek(f, 0, SEEK_SET);
    out.reals.resize(out.samples.size());
    sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    sf_readf_double(f, out.reals.data(), out.info.frames);
    sf_close(f);
    return out;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first `count` bytes of a file (fewer if it is shorter).
inline std::vector<uint8_t> readPrefix(const std::string& path, size_t count) {
    std::vector<uint8_t> out(count);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
inline uint64_t le64(const std::vector<uint8_t>& b, size_t at) {
    return uint64_t{le32(b, at)} | uint64_t{le32(b, at + 4)} << 32;
}

// The frequency of a sine from its upward zero crossings (interpolated).
inline double measuredFrequency(const std::vector<double>& mono, double rate) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < mono.size(); ++i) {
        if (mono[i - 1] < 0 && mono[i] >= 0) {
            const double t = static_cast<double>(i - 1) + (-mono[i - 1]) / (mono[i] - mono[i - 1]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * rate / (last - first);
}

}  // namespace mediatest
