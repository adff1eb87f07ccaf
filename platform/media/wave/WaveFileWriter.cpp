#include "WaveFileWriter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "WaveHeader.h"

namespace media {
namespace {
constexpr uint8_t kPadByte = 0;
// The page size the buffer is aligned to and the smallest write unit; a
// larger real page size only costs the alignment benefit, never correctness.
constexpr size_t kPage = 4096;
}  // namespace

void WaveFileWriter::AlignedFree::operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{kPage}); }

WaveFileWriter::WaveFileWriter(std::unique_ptr<ByteSink> sink) : WaveFileWriter(std::move(sink), Options{}) {}

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
    // Checkpoints write the buffer out once a second: a larger one would
    // never fill.
    capacity_ = std::max<size_t>(std::min<uint64_t>(options_.bufferBytes, format.bytesPerSecond()), frameBytes);
    reservationLimit_ = capacity_ - capacity_ % frameBytes;
    // A unit of at most half a second leaves less than that buffered after a
    // checkpoint. Below a page, units gain nothing: every byte is written.
    const uint64_t largestUnit = std::min<uint64_t>(format.bytesPerSecond() / 2, capacity_);
    unit_ = largestUnit >= kPage ? std::bit_floor(static_cast<size_t>(largestUnit)) : 1;
    bufferEnd_ = capacity_ + unit_;
    buffer_.reset(static_cast<uint8_t*>(::operator new[](bufferEnd_, std::align_val_t{kPage})));
    // Every page is touched now, so that no append takes a page fault.
    std::memset(buffer_.get(), 0, bufferEnd_);
    pending_ = used_ = headerBytes_ & (unit_ - 1);
    state_ = State::Writing;
    return describe(0);
}

bool WaveFileWriter::succeeded(const SinkResult& result) {
    if (result.error != 0) fail(result.error);
    return result.error == 0;
}

// Writes buffer bytes [pending_, end) at their place in the file.
bool WaveFileWriter::writeOut(size_t end) {
    if (end <= pending_) return true;
    const SinkResult r = sink_->writeAt(headerBytes_ + bytesOnDisk_, buffer_.get() + pending_, end - pending_);
    bytesOnDisk_ += r.written;
    pending_ = end;
    return succeeded(r);
}

// Writes out the whole units, then moves what is left (less than a unit) to
// the front by a multiple of the unit, keeping each index's file offset: the
// next samples go where the last ones did, still in cache.
bool WaveFileWriter::writeWholeUnits() {
    if (!writeOut(wholeUnitsEnd())) return false;
    const size_t shift = pending_ & ~(unit_ - 1);
    std::memmove(buffer_.get() + pending_ - shift, buffer_.get() + pending_, used_ - pending_);
    pending_ -= shift;
    used_ -= shift;
    return true;
}

bool WaveFileWriter::checkpoint() {
    if (!writeWholeUnits()) return false;
    claimedFrames_ = bytesOnDisk_ / format_.blockAlign();
    return describe(claimedFrames_ * format_.blockAlign());
}

// The header for `dataBytes` of samples, over the file's first bytes.
SinkResult WaveFileWriter::putHeader(uint64_t dataBytes) {
    std::array<uint8_t, wave::kLargestHeaderBytes> header{};
    const std::span<uint8_t> bytes(header.data(), headerBytes_);
    wave::writeHeader(bytes, format_, dataBytes);
    return sink_->writeAt(0, bytes.data(), bytes.size());
}

// Makes the file say it holds `dataBytes` of samples, all of them in it.
// Odd-sized data is followed by a pad byte, which the RIFF size counts;
// it is written before the header claims it. Later samples overwrite it.
// When more bytes than the claimed frames are in the file already, the
// byte after them is a sample byte and serves as the pad.
bool WaveFileWriter::describe(uint64_t dataBytes) {
    if ((dataBytes & 1u) != 0 && dataBytes == bytesOnDisk_ &&
        !succeeded(sink_->writeAt(headerBytes_ + dataBytes, &kPadByte, 1)))
        return false;
    return succeeded(putHeader(dataBytes));
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
    if (!writeOut(used_) || !describe(bytesOnDisk_)) {
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
    putHeader(keep);
    bytesOnDisk_ = keep;
    frames_ = keep / frameBytes;
    sink_->close();
    sink_.reset();
    buffer_.reset();
    state_ = State::Failed;
    errno_ = reason;
}

}  // namespace media
