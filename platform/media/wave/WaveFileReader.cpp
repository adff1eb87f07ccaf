#include "WaveFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

namespace media::wave {
namespace {

// Enough for any header this system writes and for the chunks other
// writers put before the data.
constexpr size_t kHeadBytes = 64 * 1024;

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
    const uint64_t dataBytes = std::min(d.dataBytes, inFile) / d.blockAlign * d.blockAlign;
    dataEnd_ = d.dataOffset + dataBytes;
    // Reads start at the aligned offset before the first sample.
    readOffset_ = d.dataOffset / FilePass::kAlign * FilePass::kAlign;
    skip_ = static_cast<size_t>(d.dataOffset - readOffset_);
    pass_ = std::make_unique<FilePass>(fd_, dataBytes >= kDirectFromBytes);
    chunk_.reset(static_cast<uint8_t*>(::operator new[](kCarryRoom + kChunkBytes, std::align_val_t{FilePass::kAlign})));
    cursor_ = filled_ = kCarryRoom;
    return true;
}

void WaveFileReader::ChunkFree::operator()(uint8_t* p) const {
    ::operator delete[](p, std::align_val_t{FilePass::kAlign});
}

// Reads the next chunk of the file after the partial frame left over from
// the last one, which moves to just before it.
bool WaveFileReader::refill() {
    if (readOffset_ >= dataEnd_) return false;
    const size_t carry = filled_ - cursor_;
    uint8_t* area = chunk_.get() + kCarryRoom;
    std::memmove(area - carry, chunk_.get() + cursor_, carry);
    const auto want = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, dataEnd_ - readOffset_));
    const ssize_t got = pass_->read(area, want, readOffset_);
    if (got != static_cast<ssize_t>(want)) {
        readProblem_ = got < 0 ? std::strerror(errno) : "the file ended early";
        readOffset_ = dataEnd_;
        cursor_ = filled_;
        return false;
    }
    cursor_ = kCarryRoom - carry + skip_;
    filled_ = kCarryRoom + want;
    readOffset_ += want;
    skip_ = 0;
    return true;
}

std::span<const uint8_t> WaveFileReader::takeFrames(uint64_t maxFrames) {
    if (!samplesReady()) return {};
    const uint32_t frameBytes = header_.description.blockAlign;
    if (filled_ - cursor_ < frameBytes && !refill()) return {};
    const size_t frames = std::min<uint64_t>(maxFrames, (filled_ - cursor_) / frameBytes);
    const std::span<const uint8_t> bytes(chunk_.get() + cursor_, frames * frameBytes);
    cursor_ += bytes.size();
    return bytes;
}

size_t WaveFileReader::readSamples(std::span<int32_t> out) {
    const uint16_t channels = header_.description.channels;
    const std::span<const uint8_t> bytes = takeFrames(channels == 0 ? 0 : out.size() / channels);
    if (bytes.empty()) return 0;
    const size_t samples = bytes.size() / header_.description.blockAlign * channels;
    decode_(bytes.data(), samples, out.data(), 1);
    return samples;
}

}  // namespace media::wave
