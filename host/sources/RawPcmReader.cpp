#include "RawPcmReader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/HostError.h"
#include "host/HostWarnings.h"
#include "host/encoding/SampleCodec.h"

namespace host {

RawPcmReader::RawPcmReader(int fd, SampleLayout layout, double sampleRate, uint32_t channels)
    : fd_(fd), layout_(layout), sampleRate_(sampleRate), channels_(channels) {}

size_t RawPcmReader::read(double* out, size_t frames) {
    if (ended_) return 0;
    const size_t frameBytes = static_cast<size_t>(channels_) * layout_.bytesPerSample();
    bytes_.resize(frames * frameBytes);
    size_t filled = 0;
    while (filled < bytes_.size()) {
        const ssize_t got = ::read(fd_, bytes_.data() + filled, bytes_.size() - filled);
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
        warn("standard input ended " + std::to_string(rest) + (rest == 1 ? " byte" : " bytes") +
             " into a frame of " + std::to_string(frameBytes) + " bytes; that partial frame was dropped");
    decodeSamples(std::span(bytes_.data(), whole * frameBytes), layout_,
                  std::span(out, whole * channels_));
    return whole;
}

}  // namespace host
