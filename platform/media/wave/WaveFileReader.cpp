#include "WaveFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace media::wave {
namespace {

// Enough for any header this system writes and for the chunks other
// writers put before the data.
constexpr size_t kHeadBytes = 64 * 1024;

// Reads up to `size` bytes at `offset`, short only at the end of the file;
// -1 with errno on error.
ssize_t readAt(int fd, uint8_t* out, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

WaveFileReader::WaveFileReader(const std::string& path) {
    // O_NONBLOCK: a FIFO planted at the path must not hang the open.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        header_.status = error == ENOENT ? WaveStatus::Missing : WaveStatus::Unreadable;
        header_.problem = error == ELOOP ? "it is a symbolic link" : std::strerror(error);
        return;
    }
    readHead();
}

WaveFileReader::WaveFileReader(OpenFile file) : fd_(file.fd) {
    if (fd_ < 0) {
        header_.status = WaveStatus::Unreadable;
        header_.problem = "no file";
        return;
    }
    readHead();
}

void WaveFileReader::readHead() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        header_.status = WaveStatus::Unreadable;
        header_.problem = "not a regular file";
        ::close(fd_);
        fd_ = -1;
        return;
    }
    fileBytes_ = static_cast<uint64_t>(st.st_size);
    std::vector<uint8_t> head(std::min<uint64_t>(fileBytes_, kHeadBytes));
    const ssize_t got = readAt(fd_, head.data(), head.size(), 0);
    if (got < 0) {
        header_.status = WaveStatus::Unreadable;
        header_.problem = std::strerror(errno);
        return;
    }
    header_ = readHeader(std::span(head).first(static_cast<size_t>(got)), fileBytes_);
}

WaveFileReader::~WaveFileReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool WaveFileReader::prepareSamples() {
    const WaveDescription& d = header_.description;
    if (fd_ < 0 || d.dataOffset == 0 || d.channels == 0) {
        readProblem_ = "no samples to read: " + header_.problem;
        return false;
    }
    const unsigned bytes = d.blockAlign % d.channels == 0 ? d.blockAlign / d.channels : 0;
    if (d.sampleFormat == kFormatTagPCM && bytes >= 1 && bytes <= 4) {
        // WAVE stores 8-bit samples unsigned, wider ones signed; valid bits
        // narrower than the container sit at its top.
        pcm::SampleEncoding encoding;
        encoding.kind = bytes == 1 ? pcm::SampleKind::UnsignedInt : pcm::SampleKind::SignedInt;
        encoding.containerBytes = static_cast<uint8_t>(bytes);
        encoding.validBits = static_cast<uint8_t>(8 * bytes);
        decode_ = pcm::codecFor(encoding).decodeInt;
    }
    if (decode_ == nullptr) {
        readProblem_ = "the samples are not integer PCM of 8 to 32 bits (format " + std::to_string(d.sampleFormat) +
                       ", " + std::to_string(d.channels) + " channels in " + std::to_string(d.blockAlign) + " bytes)";
        return false;
    }
    // Only the frames of the data chunk that are in the file.
    const uint64_t inFile = fileBytes_ > d.dataOffset ? fileBytes_ - d.dataOffset : 0;
    framesLeft_ = std::min(d.dataBytes, inFile) / d.blockAlign;
    nextOffset_ = d.dataOffset;
    return true;
}

// Reads up to `maxFrames` of the next frames into `out`; returns how many.
uint64_t WaveFileReader::readFrames(uint8_t* out, uint64_t maxFrames) {
    const WaveDescription& d = header_.description;
    const uint64_t frames = std::min<uint64_t>(framesLeft_, maxFrames);
    if (frames == 0) return 0;
    const ssize_t got = readAt(fd_, out, frames * d.blockAlign, nextOffset_);
    if (got < 0 || static_cast<uint64_t>(got) != frames * d.blockAlign) {
        readProblem_ = got < 0 ? std::strerror(errno) : "the file ended early";
        framesLeft_ = 0;
        return 0;
    }
    framesLeft_ -= frames;
    nextOffset_ += frames * d.blockAlign;
    return frames;
}

size_t WaveFileReader::readSamples(std::span<int32_t> out) {
    if (!samplesReady()) return 0;
    const WaveDescription& d = header_.description;
    const uint64_t wanted = std::min<uint64_t>(framesLeft_, out.size() / d.channels);
    bytes_.resize(std::max<size_t>(bytes_.size(), wanted * d.blockAlign));
    const size_t samples = readFrames(bytes_.data(), wanted) * d.channels;
    decode_(bytes_.data(), samples, out.data(), 1);
    return samples;
}

size_t WaveFileReader::readFrameBytes(std::span<uint8_t> out) {
    if (!samplesReady()) return 0;
    const uint32_t frameBytes = header_.description.blockAlign;
    return readFrames(out.data(), out.size() / frameBytes) * frameBytes;
}

}  // namespace media::wave
