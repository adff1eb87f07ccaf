// Latency of one host call: processSampleBuffer with app audio, timed call by
// call over an hour of 1,024-frame buffers (32-bit float stereo, 48 kHz),
// reported as percentiles against the 21.3 ms that one buffer lasts.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "extension/SampleHandler.h"
#include "platform/files/NSFileManager.h"

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
    constexpr uint32_t kFrames = 1024, kChannels = 2;
    constexpr double kRate = 48000;

    char scratch[] = "/tmp/latency-bench-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return 1;
    platform::setTemporaryDirectoryParent(scratch);
    platform::setAppGroupContainerRoot(std::string(scratch) + "/containers");
    platform::setEntitledApplicationGroups({"group.tolvix"});

    std::vector<float> samples(kFrames * kChannels);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(0.8 * std::sin(static_cast<double>(i / kChannels) * 0.0576));
    CMSampleBuffer buffer;
    buffer.formatDescription = CMFormatDescription{
        CMMediaType::Audio, makeLinearPCMDescription(kRate, kChannels, 32, kAudioFormatFlagIsFloat)};
    buffer.audioBuffers = {{kChannels, static_cast<uint32_t>(samples.size() * sizeof(float)), samples.data()}};
    buffer.numSamples = kFrames;

    const auto count = static_cast<size_t>(seconds * kRate / kFrames);
    std::vector<double> micros(count);
    SampleHandler handler;
    handler.broadcastStartedWithSetupInfo(nullptr);
    for (size_t i = 0; i < count; ++i) {
        buffer.presentationTimeStamp = CMTimeMake(static_cast<int64_t>(3600 * kRate + i * kFrames), 48000);
        const auto t0 = std::chrono::steady_clock::now();
        handler.processSampleBuffer(&buffer, RPSampleBufferTypeAudioApp);
        const auto t1 = std::chrono::steady_clock::now();
        micros[i] = std::chrono::duration<double, std::micro>(t1 - t0).count();
    }
    const auto e0 = std::chrono::steady_clock::now();
    handler.broadcastFinished();
    const double endMillis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - e0).count();

    const double budget = kFrames / kRate * 1e6;
    std::vector<double> sorted = micros;
    std::sort(sorted.begin(), sorted.end());
    auto pct = [&](double p) { return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))]; };
    std::printf("call latency over %zu buffers (%.0f s of audio), budget per buffer %.1f us\n", count, seconds, budget);
    std::printf("  median %.2f us  p99 %.2f us  p99.9 %.2f us  max %.2f us  (max/budget %.4f)\n", pct(0.5), pct(0.99),
                pct(0.999), sorted.back(), sorted.back() / budget);
    std::printf("  endBroadcast (finish + hand-over) %.1f ms\n", endMillis);
    std::filesystem::remove_all(scratch);
    return 0;
}
