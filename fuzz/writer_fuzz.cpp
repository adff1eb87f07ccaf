// Appends sample buffers with arbitrary stream descriptions, frame counts and
// data sizes to a writer, interleaved with the other requests a recorder
// makes (finish, release unfinished), writing into a private temporary
// directory, then reads the file back through the WAVE reader, which must
// find a finished file complete and holding every frame written. Every data
// block is its own allocation of exactly the size its AudioBuffer states, so
// any read past it is caught. One input in four is instead a file's first
// bytes for the header reader.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/media/AVAssetWriter.h"
#include "platform/media/AVAssetWriterInput.h"
#include "platform/media/wave/WaveFileReader.h"

namespace {

std::string workDir;

NSDictionary settings(FuzzedDataProvider& in) {
    static constexpr uint64_t kRates[] = {8000, 22050, 44100, 48000, 96000, 1, 4294967295u};
    static constexpr uint32_t kBits[] = {8, 16, 24, 32, 12};
    NSDictionary s{{std::string(AVFormatIDKey), NSNumber::numberWithUnsignedInt(in.ConsumeBool() ? 0x6C70636D : 0)},
                   {std::string(AVSampleRateKey), NSNumber::numberWithUnsignedLongLong(in.PickValueInArray(kRates))},
                   {std::string(AVLinearPCMBitDepthKey), NSNumber::numberWithUnsignedInt(in.PickValueInArray(kBits))},
                   {std::string(AVNumberOfChannelsKey), NSNumber::numberWithUnsignedLongLong(in.ConsumeIntegralInRange<uint64_t>(0, 9))}};
    if (in.ConsumeIntegralInRange(0, 15) == 0) s.setObject(NSNumber::numberWithBool(true), AVLinearPCMIsFloatKey);
    return s;
}

AudioStreamBasicDescription description(FuzzedDataProvider& in) {
    static constexpr double kRates[] = {48000, 44100, 22050, 96000, 8000, 32000, 0.0, -1.0, 1e300, 187.5};
    static constexpr uint32_t kBits[] = {8, 16, 24, 32, 64, 0, 12};
    const uint32_t channels = in.ConsumeIntegralInRange<uint32_t>(0, 8);
    const uint32_t bits = in.PickValueInArray(kBits);
    const auto flags = in.ConsumeIntegral<uint8_t>() & 0x3Fu;
    AudioStreamBasicDescription d = makeLinearPCMDescription(48000, channels, bits, flags);
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("TMPDIR");
    workDir = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/writer-fuzz-XXXXXX";
    if (::mkdtemp(workDir.data()) == nullptr) std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        const uint64_t fileBytes = in.ConsumeIntegral<uint64_t>();
        media::wave::readHeader(in.ConsumeRemainingBytes<uint8_t>(), fileBytes);
        return 0;
    }
    static uint64_t counter = 0;
    const std::string path = workDir + "/f" + std::to_string(counter++) + ".wav";

    auto writer = AVAssetWriter::assetWriterWithURL(NSURL(path), AVFileTypeWAVE, nullptr);
    auto input = AVAssetWriterInput::assetWriterInputWithMediaType(AVMediaTypeAudio, settings(in));
    if (writer) {
        writer->addInput(input);
        writer->startWriting();
        writer->startSessionAtSourceTime(kCMTimeZero);
    }

    std::vector<std::vector<uint8_t>> blocks;
    bool finished = false;
    while (input && in.remaining_bytes() > 0) {
        const int action = in.ConsumeIntegralInRange(0, 15);
        if (action <= 1) {
            if (action == 0 && writer) finished |= writer->finishWriting();
            if (action == 1) input->appendSampleBuffer(nullptr);
            continue;
        }
        CMSampleBuffer buffer;
        if (action == 2) {
            buffer.formatDescription = CMFormatDescription{CMMediaType::Video, std::nullopt};
        } else if (action != 3) {
            buffer.formatDescription = CMFormatDescription{CMMediaType::Audio, description(in)};
        }
        blocks.assign(in.ConsumeIntegralInRange<size_t>(0, 9), {});
        for (auto& block : blocks) {
            block = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
            buffer.audioBuffers.push_back(AudioBuffer{in.ConsumeIntegralInRange<uint32_t>(0, 9),
                                                      static_cast<uint32_t>(block.size()),
                                                      block.empty() ? nullptr : block.data()});
        }
        buffer.numSamples = in.ConsumeBool() ? in.ConsumeIntegralInRange<CMItemCount>(0, 4096)
                                             : in.ConsumeIntegral<CMItemCount>();
        input->appendSampleBuffer(&buffer);
    }
    if (writer && in.ConsumeBool()) finished |= writer->finishWriting();
    const uint64_t framesWritten = writer ? writer->writtenFrameCount() : 0;
    input.reset();
    writer.reset();

    // Read back: a finished writer's file is complete and holds every frame written.
    media::wave::WaveFileReader file(path);
    std::vector<int32_t> samples(4096);
    while (file.readSamples(samples) > 0) {
    }
    if (finished && (file.status() != media::wave::WaveStatus::Complete || file.description().frames() != framesWritten))
        std::abort();
    ::unlink(path.c_str());
    return 0;
}
