// Appends sample buffers with arbitrary stream descriptions, frame counts and
// data sizes to a writer, among the other requests a recorder makes (finish,
// release unfinished), then reads the file back: a finished file must be
// complete and give every frame its header counts. Each data block is its own allocation
// of exactly its stated size, so any read past it is caught. One input in four
// is instead a file's first bytes for the header reader.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/media/wave/WaveFileReader.h"
#include "tests/media/MediaTestSupport.h"

namespace {

NSDictionary settings(FuzzedDataProvider& in) {
    static constexpr uint64_t kRates[] = {8000, 22050, 44100, 48000, 96000, 1, 4294967295u};
    static constexpr uint32_t kBits[] = {8, 16, 24, 32, 12};
    NSDictionary s{{std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(in.ConsumeBool() ? 0x6C70636D : 0)},
                   {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(in.PickValueInArray(kRates))},
                   {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(in.PickValueInArray(kBits))},
                   {std::string(AVNumberOfChannelsKey),
                    NSNumber::numberWithUnsignedLongLong(in.ConsumeIntegralInRange<uint64_t>(0, 9))}};
    if (in.ConsumeIntegralInRange(0, 15) == 0) s.setObject(NSNumber::numberWithBool(true), AVLinearPCMIsFloatKey);
    return s;
}

// A linear PCM description with an arbitrary rate and flags, and sometimes one field out of line.
AudioStreamBasicDescription description(FuzzedDataProvider& in) {
    static constexpr double kRates[] = {48000, 44100, 22050, 96000, 8000, 32000, 0.0, -1.0, 1e300, 187.5};
    static constexpr uint32_t kBits[] = {8, 16, 24, 32, 64, 0, 12};
    const uint32_t channels = in.ConsumeIntegralInRange<uint32_t>(0, 8);
    const auto flags = in.ConsumeIntegral<uint8_t>() & 0x3Fu;
    AudioStreamBasicDescription d = makeLinearPCMDescription(48000, channels, in.PickValueInArray(kBits), flags);
    d.mSampleRate = in.ConsumeBool() ? in.PickValueInArray(kRates) : in.ConsumeFloatingPoint<double>();
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: d.mBytesPerFrame = d.mBytesPerPacket = in.ConsumeIntegral<uint32_t>(); break;
        case 1: d.mChannelsPerFrame = in.ConsumeIntegral<uint32_t>(); break;
        case 2: d.mFormatID = in.ConsumeIntegral<uint32_t>(); break;
        case 3: d.mFramesPerPacket = in.ConsumeIntegralInRange<uint32_t>(0, 2); break;
        case 4:  // 24 bits in 4-byte containers
            d.mBitsPerChannel = 24;
            d.mBytesPerFrame = d.mBytesPerPacket = (flags & kAudioFormatFlagIsNonInterleaved) ? 4 : 4 * channels;
            break;
        default: break;
    }
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        const uint64_t fileBytes = in.ConsumeIntegral<uint64_t>();
        media::wave::readHeader(in.ConsumeRemainingBytes<uint8_t>(), fileBytes);
        return 0;
    }
    static const testing_support::TempDirectory dir;  // private, removed at exit
    const std::string path = dir / "f.wav";
    auto [writer, input] = mediatest::startRecording(path, settings(in));
    std::vector<std::vector<uint8_t>> blocks;
    bool finished = false;
    while (input && in.remaining_bytes() > 0) {
        const int action = in.ConsumeIntegralInRange(0, 15);
        if (action == 0 && writer) finished |= writer->finishWriting();
        if (action <= 1) {
            if (action == 1) input->appendSampleBuffer(nullptr);
            continue;
        }
        CMSampleBuffer buffer;  // action 3: no format description
        if (action == 2) buffer.formatDescription = CMFormatDescription{CMMediaType::Video, std::nullopt};
        if (action > 3) buffer.formatDescription = CMFormatDescription{CMMediaType::Audio, description(in)};
        blocks.assign(in.ConsumeIntegralInRange<size_t>(0, 9), {});
        for (auto& block : blocks) {
            block = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
            buffer.audioBuffers.push_back(AudioBuffer{in.ConsumeIntegralInRange<uint32_t>(0, 9),
                                                      static_cast<uint32_t>(block.size()),
                                                      block.empty() ? nullptr : block.data()});
        }
        buffer.numSamples =
            in.ConsumeBool() ? in.ConsumeIntegralInRange<CMItemCount>(0, 4096) : in.ConsumeIntegral<CMItemCount>();
        input->appendSampleBuffer(&buffer);
    }
    if (writer && in.ConsumeBool()) finished |= writer->finishWriting();
    input.reset();
    writer.reset();

    media::wave::WaveFileReader file(path);
    std::vector<int32_t> block(4096);
    uint64_t samples = 0;
    for (size_t n; (n = file.readSamples(block)) > 0;) samples += n;
    if (finished && (file.status() != media::wave::WaveStatus::Complete ||
                     samples != file.description().frames() * file.description().channels))
        std::abort();
    ::unlink(path.c_str());
    return 0;
}
