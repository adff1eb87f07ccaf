#include "WaveFileWriter.h"

#include <array>
#include <cerrno>

#include "WaveHeader.h"

namespace media {
namespace {
constexpr size_t kLargestHeader = 104;
constexpr uint8_t kPadByte = 0;
}  // namespace

WaveFileWriter::WaveFileWriter(std::unique_ptr<ByteSink> sink)
    : WaveFileWriter(std::move(sink), Options{}) {}

WaveFileWriter::WaveFileWriter(std::unique_ptr<ByteSink> sink, Options options)
    : sink_(std::move(sink)), options_(options) {}

// Abandoned: the buffer is dropped and the file keeps the header of the last
// checkpoint, which describes only bytes already in it.
WaveFileWriter::~WaveFileWriter() {
    if (sink_) sink_->close();
}

bool WaveFileWriter::begin(const WaveFormat& format) {
    if (state_ != State::Idle) return false;
    if (!sink_ || format.blockAlign() == 0 || format.sampleRate == 0) {
        fail(EINVAL);
        return false;
    }
    format_ = format;
    headerBytes_ = wave::headerSize(format);
    const uint32_t frameBytes = format.blockAlign();
    // A hole shorter than a frame would misalign every frame after it.
    initialDataBytes_ = options_.initialDataBytes - options_.initialDataBytes % frameBytes;
    bytesOnDisk_ = initialDataBytes_;
    frames_ = initialDataBytes_ / frameBytes;

    capacity_ = options_.bufferBytes < frameBytes ? frameBytes : options_.bufferBytes;
    reservationLimit_ = capacity_ - capacity_ % frameBytes;
    buffer_.reset(new uint8_t[capacity_]);
    state_ = State::Writing;
    return writeHeaderFor(initialDataBytes_);
}

bool WaveFileWriter::flushBuffer() {
    if (used_ == 0) return true;
    const SinkResult r = sink_->writeAt(headerBytes_ + bytesOnDisk_, buffer_.get(), used_);
    bytesOnDisk_ += r.written;
    if (r.error != 0) {
        fail(r.error);
        return false;
    }
    used_ = 0;
    return true;
}

bool WaveFileWriter::writeHeaderFor(uint64_t dataBytes) {
    // Odd-sized data is followed by a pad byte, which the RIFF size counts;
    // it is written before the header claims it. Later samples overwrite it.
    if ((dataBytes & 1u) != 0) {
        const SinkResult pad = sink_->writeAt(headerBytes_ + dataBytes, &kPadByte, 1);
        if (pad.error != 0) {
            fail(pad.error);
            return false;
        }
    }
    std::array<uint8_t, kLargestHeader> header{};
    const std::span<uint8_t> bytes(header.data(), headerBytes_);
    wave::writeHeader(bytes, format_, dataBytes);
    const SinkResult r = sink_->writeAt(0, bytes.data(), bytes.size());
    if (r.error != 0) {
        fail(r.error);
        return false;
    }
    return true;
}

bool WaveFileWriter::checkpoint() {
    framesSinceCheckpoint_ = 0;
    return flushBuffer() && writeHeaderFor(bytesOnDisk_);
}

void WaveFileWriter::fail(int errnum) {
    if (state_ == State::Closed) return;
    state_ = State::Failed;
    errno_ = errnum;
}

bool WaveFileWriter::finish() {
    if (state_ == State::Failed && sink_) {
        completeAfterFailure();
        return false;
    }
    if (state_ != State::Writing) return false;
    const bool written = flushBuffer() && writeHeaderFor(bytesOnDisk_);
    if (!written) {
        completeAfterFailure();
        return false;
    }
    const int closeError = sink_->close();
    sink_.reset();
    buffer_.reset();
    if (closeError != 0) {
        fail(closeError);
        return false;
    }
    state_ = State::Closed;
    return true;
}

// Cuts the file back to the whole frames that reached it and describes
// exactly those. Shrinking and rewriting the header never grow the file, so
// this works on a full disk and under a file size limit.
void WaveFileWriter::completeAfterFailure() {
    const uint32_t frameBytes = format_.blockAlign();
    if (headerBytes_ == 0 || frameBytes == 0) {  // failed before anything was written
        sink_->close();
        sink_.reset();
        return;
    }
    uint64_t keep = bytesOnDisk_ - bytesOnDisk_ % frameBytes;
    used_ = 0;
    // Keep the failure's reason; the repair only decides what the file says.
    const int reason = errno_;
    sink_->truncate(headerBytes_ + keep);
    if ((keep & 1u) != 0 && sink_->writeAt(headerBytes_ + keep, &kPadByte, 1).error != 0) {
        // No room for the pad byte: an odd size means odd-sized frames, so
        // dropping one frame makes the size even.
        keep -= frameBytes;
        sink_->truncate(headerBytes_ + keep);
    }
    std::array<uint8_t, kLargestHeader> header{};
    const std::span<uint8_t> bytes(header.data(), headerBytes_);
    wave::writeHeader(bytes, format_, keep);
    sink_->writeAt(0, bytes.data(), bytes.size());
    bytesOnDisk_ = keep;
    frames_ = keep / frameBytes;
    sink_->close();
    sink_.reset();
    buffer_.reset();
    state_ = State::Failed;
    errno_ = reason;
}

}  // namespace media
