// The hand-over at the end of a broadcast: endBroadcast on a long recording
// (finish, remove the old shared recording, copy, signal) against `cp` of the
// same file into the same directory, run alternately; medians and their ratio,
// the method the file services chose (clone, link or copy) and the bytes the
// hand-overs wrote (write_bytes of /proc/self/io).

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "extension/SampleHandler.h"
#include "platform/files/HandOverRecord.h"
#include "platform/files/NSFileManager.h"

extern char** environ;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// `cp` onto the copy it made in the previous round, so that like the
// hand-over (which removes the previous shared recording) it also pays for
// dropping the old file's pages.
double timeCp(const std::string& from, const std::string& to) {
    const char* argv[] = {"cp", from.c_str(), to.c_str(), nullptr};
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return NAN;
    int status = 0;
    waitpid(pid, &status, 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Bytes this process has caused to be written to storage so far.
double bytesWritten() {
    std::ifstream io("/proc/self/io");
    for (std::string key; io >> key;) {
        double value = 0;
        io >> value;
        if (key == "write_bytes:") return value;
    }
    return NAN;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    char scratch[] = "/tmp/handover-bench-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) return 1;
    const std::string root = std::string(scratch) + "/containers";
    platform::setTemporaryDirectoryParent(scratch);
    platform::setAppGroupContainerRoot(root);
    platform::setEntitledApplicationGroups({"group.tolvix"});

    // One recording of `seconds` of 32-bit stereo at 48 kHz.
    constexpr uint32_t kFrames = 4096, kChannels = 2;
    std::vector<float> samples(kFrames * kChannels);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(0.5 * std::sin(i * 0.01));
    CMSampleBuffer buffer;
    buffer.formatDescription = CMFormatDescription{
        CMMediaType::Audio, makeLinearPCMDescription(48000, kChannels, 32, kAudioFormatFlagIsFloat)};
    buffer.audioBuffers = {{kChannels, static_cast<uint32_t>(samples.size() * sizeof(float)), samples.data()}};
    buffer.numSamples = kFrames;
    SampleHandler handler;
    handler.broadcastStartedWithSetupInfo(nullptr);
    for (size_t i = 0, n = static_cast<size_t>(seconds * 48000 / kFrames); i < n; ++i)
        handler.processSampleBuffer(&buffer, RPSampleBufferTypeAudioApp);

    const std::string source = NSTemporaryDirectory() + "/tempfile.wav";
    const std::string cpTarget = root + "/group.tolvix/cp-copy.wav";
    std::vector<double> ours, cp;
    double written = 0;
    for (int r = 0; r < rounds; ++r) {
        const double before = bytesWritten();
        const auto t0 = std::chrono::steady_clock::now();
        handler.broadcastFinished();  // later rounds: the finished writer, then remove and copy again
        ours.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        if (r > 0) written += bytesWritten() - before;  // the first round also finishes the file
        cp.push_back(timeCp(source, cpTarget));
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(source));
    const char* method = platform::files::placementMethodName(platform::files::lastHandOver().method);
    std::printf(
        "hand-over of %.0f s recording (%.0f MB) by %s, %.0f MB written each: endBroadcast median %.1f ms, "
        "cp median %.1f ms, ratio %.2f\n",
        seconds, bytes / 1e6, method, rounds > 1 ? written / (rounds - 1) / 1e6 : NAN, median(ours), median(cp),
        median(ours) / median(cp));
    std::filesystem::remove_all(scratch);
    return 0;
}
