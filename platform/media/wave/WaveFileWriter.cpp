#include "WaveFileWriter.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "WaveHeader.h"

namespace media {
namespace {
constexpr size_t kLargestHeader = 104;
constexpr uint8_t kPadByte = 0;
// The page size the buffer mirrors; a larger real page size only costs the
// alignment benefit, never correctness.
constexpr size_t kPage = 4096;
}  // namespace

void WaveFileWriter::AlignedFree::operator()(uint8_t* p) const {
    ::operator delete[](p, std::align_val_t{kPage});
}

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
    capacity_ = options_.bufferBytes < frameBytes ? frameBytes : options_.bufferBytes;
    reservationLimit_ = capacity_ - capacity_ % frameBytes;
    // One page more than the capacity: pending bytes start within the first page.
    buffer_.reset(static_cast<uint8_t*>(::operator new[](capacity_ + kPage, std::align_val_t{kPage})));
    placePendingAtFileOffset();
    state_ = State::Writing;
    return writeHeaderFor(0);
}

void WaveFileWriter::placePendingAtFileOffset() {
    pending_ = static_cast<size_t>((headerBytes_ + bytesOnDisk_) % kPage);
    used_ = pending_;
    fillLimit_ = pending_ + capacity_;
}

bool WaveFileWriter::flushBuffer() {
    if (used_ == pending_) return true;
    const SinkResult r = sink_->writeAt(headerBytes_ + bytesOnDisk_, buffer_.get() + pending_, used_ - pending_);
    bytesOnDisk_ += r.written;
    if (r.error != 0) {
        fail(r.error);
        return false;
    }
    placePendingAtFileOffset();
    return true;
}

bool WaveFileWriter::flushWholePages() {
    const size_t alignedEnd = used_ - used_ % kPage;
    const size_t tail = used_ - alignedEnd;
    const uint64_t bytesPerSecond = uint64_t{format_.sampleRate} * format_.blockAlign();
    // At low byte rates the bytes held back would be a noticeable part of a
    // second; everything is written then.
    if (alignedEnd <= pending_ || tail * 2 >= bytesPerSecond) return flushBuffer();
    const SinkResult r = sink_->writeAt(headerBytes_ + bytesOnDisk_, buffer_.get() + pending_, alignedEnd - pending_);
    bytesOnDisk_ += r.written;
    if (r.error != 0) {
        fail(r.error);
        return false;
    }
    // Buffer index alignedEnd maps to a page boundary of the file, as index 0 does.
    std::memmove(buffer_.get(), buffer_.get() + alignedEnd, tail);
    pending_ = 0;
    used_ = tail;
    fillLimit_ = capacity_;
    return true;
}

bool WaveFileWriter::writeHeaderFor(uint64_t dataBytes) {
    // Odd-sized data is followed by a pad byte, which the RIFF size counts;
    // it is written before the header claims it. Later samples overwrite it.
    // When more bytes than the claimed frames are in the file already, the
    // byte after them is a sample byte and serves as the pad.
    if ((dataBytes & 1u) != 0 && dataBytes == bytesOnDisk_) {
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
    if (!flushWholePages()) return false;
    claimedFrames_ = bytesOnDisk_ / format_.blockAlign();
    return writeHeaderFor(claimedFrames_ * format_.blockAlign());
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
    used_ = pending_;
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
