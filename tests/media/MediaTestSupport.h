#pragma once
// Helpers for the media writer tests: output settings, a writer set up the
// way the recorder does it, and reading the files back through the
// project's reader (tests/support/WaveFiles.h).

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AVAssetWriter.h"
#include "platform/media/AVAssetWriterInput.h"
#include "platform/media/AVAudioSettings.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TestBuffers.h"
#include "tests/support/WaveFiles.h"

namespace mediatest {

using testing_support::makeAudioBuffer;
using testing_support::readWave;
using testing_support::TempDirectory;
using testing_support::WaveReadBack;

inline NSDictionary settingsFor(uint64_t rate, uint32_t bits, uint64_t channels) {
    return NSDictionary{{std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(0x6C70636D)},
                        {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(rate)},
                        {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(bits)},
                        {std::string(AVLinearPCMIsNonInterleaved), NSNumber::numberWithBool(false)},
                        {std::string(AVLinearPCMIsFloatKey), NSNumber::numberWithBool(false)},
                        {std::string(AVLinearPCMIsBigEndianKey), NSNumber::numberWithBool(false)},
                        {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(channels)}};
}

struct Recording {
    std::shared_ptr<AVAssetWriter> writer;
    std::shared_ptr<AVAssetWriterInput> input;
};

// A writer and input set up the way the recorder does it.
inline Recording startRecording(const std::string& path, const NSDictionary& settings) {
    Recording r{AVAssetWriter::assetWriterWithURL(NSURL::fileURLWithPath(path), AVFileTypeWAVE, nullptr),
                AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settings)};
    if (r.writer) {
        r.writer->addInput(r.input);
        r.writer->startWriting();
        r.writer->startSessionAtSourceTime(kCMTimeZero);
    }
    return r;
}

inline Recording startRecording(const std::string& path, uint64_t rate, uint32_t bits, uint64_t channels) {
    return startRecording(path, settingsFor(rate, bits, channels));
}

// The first `count` bytes of a file (fewer if it is shorter).
inline std::vector<uint8_t> readPrefix(const std::string& path, size_t count) {
    std::vector<uint8_t> out(count);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

inline uint64_t le(const std::vector<uint8_t>& b, size_t at, int bytes = 4) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

}  // namespace mediatest
