#include "RawPcmReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/HostError.h"
#include "host/HostWarnings.h"

namespace host {

RawPcmReader::RawPcmReader(int fd, const pcm::SampleEncoding& layout, double sampleRate, uint32_t channels,
                           toolkit::StopToken stop)
    : fd_(fd),
      stop_(stop),
      sampleRate_(sampleRate),
      channels_(channels),
      sampleBytes_(layout.containerBytes),
      decode_(pcm::codecFor(layout).decodeReal) {}

size_t RawPcmReader::read(double* out, size_t frames) {
    if (ended_) return 0;
    const size_t frameBytes = channels_ * sampleBytes_;
    if (bytes_.size() < frames * frameBytes) bytes_.resize(frames * frameBytes);
    size_t filled = 0;
    while (filled < frames * frameBytes) {
        // A pipe that stays empty must not hold the broadcast when a stop comes.
        if (stop_.waitFor(fd_, POLLIN) == 0 && stop_.requested()) break;
        const ssize_t got = ::read(fd_, bytes_.data() + filled, frames * frameBytes - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw sourceError(std::string("reading standard input failed: ") + std::strerror(errno));
        if (got == 0) {
            ended_ = true;
            break;
        }
        filled += static_cast<size_t>(got);
    }
    const size_t whole = filled / frameBytes;
    if (const size_t rest = filled % frameBytes; ended_ && rest != 0)
        warn("standard input ended " + std::to_string(rest) + (rest == 1 ? " byte" : " bytes") + " into a frame of " +
             std::to_string(frameBytes) + " bytes; that partial frame was dropped");
    decode_(bytes_.data(), whole * channels_, out, 1);
    return whole;
}

}  // namespace host
