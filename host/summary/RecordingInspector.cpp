#include "RecordingInspector.h"

#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/media/wave/WaveFileReader.h"
#include "platform/pcm/SampleLevels.h"

namespace host {
namespace {

using media::wave::WaveFileReader;

// A level in dB relative to full scale; none for silence.
std::optional<double> toDbfs(double level) {
    if (!(level > 0)) return std::nullopt;
    return 20.0 * std::log10(level);
}

// Peak, RMS and samples at full scale over every sample, read in blocks of
// a fixed size so memory stays the same for any length. Samples come
// left-justified (full scale 2^31); one is at full scale at its width's
// largest code or at the most negative one.
toolkit::RecordingLevels measureLevels(WaveFileReader& file) {
    constexpr size_t kBlock = 65536;  // more than a frame of the most channels
    const media::wave::WaveDescription& d = file.description();
    const unsigned width = std::clamp(8u * (d.blockAlign / d.channels), 8u, 32u);  // no others are read
    const int32_t top = INT32_MAX >> (32 - width) << (32 - width);

    pcm::LevelTally tally;
    if (width == 16) {  // the common width, tallied as stored
        for (std::span<const uint8_t> bytes; !(bytes = file.readFrameBytes()).empty();)
            pcm::tallyLevels16(bytes.data(), bytes.size() / 2, tally);
    } else {
        std::vector<int32_t> block(kBlock);
        for (size_t n; (n = file.readSamples(block)) > 0;) pcm::tallyLevels(block.data(), n, top, tally);
    }
    const double unit = 0x1p-31;
    const double rms =
        tally.count > 0 ? std::sqrt(tally.squares * 0x1p16 / static_cast<double>(tally.count)) * unit : 0;
    return {toDbfs(tally.peak * unit), toDbfs(rms), tally.fullScale};
}

// What `file` holds, with its levels when it is complete.
toolkit::RecordingSummary inspect(WaveFileReader& file, const std::string& path) {
    toolkit::RecordingSummary facts = toolkit::recordingFromFile(file, path);
    if (facts.status != toolkit::RecordingSummary::Status::Complete) return facts;
    facts.levels = measureLevels(file);
    if (!file.readProblem().empty()) {
        facts.status = toolkit::RecordingSummary::Status::Invalid;
        facts.error = "cannot read the samples: " + file.readProblem();
        facts.levels.reset();
    }
    return facts;
}

}  // namespace

toolkit::RecordingSummary inspectRecording(const std::string& path) {
    WaveFileReader file(path);
    return inspect(file, path);
}

toolkit::RecordingSummary inspectHandOver(const platform::files::HandOver* handOver, bool sharedRecordingRemoved) {
    toolkit::RecordingSummary facts;
    if (handOver == nullptr || !handOver->placed) {
        facts.error = std::string("no recording handed over; the shared recording was ") +
                      (sharedRecordingRemoved ? "removed" : "left as it was");
        if (handOver != nullptr && handOver->error)
            facts.error += " (the copy failed: " + handOver->error->localizedDescription() + ")";
        return facts;
    }
    WaveFileReader file(WaveFileReader::OpenFile{::fcntl(handOver->placed->get(), F_DUPFD_CLOEXEC, 0)});
    facts = inspect(file, handOver->destination);
    if (facts.status == toolkit::RecordingSummary::Status::Complete && !handOver->sourceCutShort.empty()) {
        facts.status = toolkit::RecordingSummary::Status::Incomplete;
        facts.cutShort = true;
        facts.error = handOver->sourceCutShort + " What was recorded until then was handed over.";
    }
    return facts;
}

}  // namespace host
