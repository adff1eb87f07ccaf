#pragma once
// A WAVE file being written: the header, the samples appended after it
// through a user-space buffer, and the header's size fields kept current.
//
// Samples go in whole frames: the caller reserves room in the buffer,
// converts into it and commits the frames. Most commits make no system call.
// Bytes leave the buffer in whole write units: runs that start and end in
// the file at multiples of the unit, a power of two of up to half a second
// of audio (64 KiB for 16-bit stereo at 44.1 kHz), the bytes past the last
// boundary staying buffered. The page cache then takes them in large
// aligned folios, which costs the kernel far less per byte than runs that
// start and end anywhere. Whenever the header would fall one second of audio
// behind, the whole units are written out and the header rewritten with the
// whole frames in the file, so a process killed mid-recording leaves a
// readable file holding all but the last second. A failed write (full disk,
// file size limit) stops the writer; finish() then completes the header for
// the whole frames that reached the file. A writer destroyed without
// finish() closes the file as it stands.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ByteSink.h"
#include "WaveFormat.h"

namespace media {

class WaveFileWriter {
public:
    struct Options {
        size_t bufferBytes = 512 * 1024;  // user-space buffer; raised to at least one frame
    };

    explicit WaveFileWriter(std::unique_ptr<ByteSink> sink);
    WaveFileWriter(std::unique_ptr<ByteSink> sink, Options options);
    ~WaveFileWriter();
    WaveFileWriter(const WaveFileWriter&) = delete;
    WaveFileWriter& operator=(const WaveFileWriter&) = delete;

    // Writes the header for `format` (which must have a nonzero block align)
    // and allocates the buffer. Returns false with errorNumber() set on failure.
    bool begin(const WaveFormat& format);
    bool isWriting() const { return state_ == State::Writing; }
    bool hasFailed() const { return state_ == State::Failed; }
    // errno of the failure that stopped the writer, or 0.
    int errorNumber() const { return errno_; }

    // The most bytes one reservation may ask for: a whole number of frames.
    size_t maxReservationBytes() const { return reservationLimit_; }
    // Room for `bytes` (at most maxReservationBytes()) in the buffer, writing
    // its whole units out first when it lacks the room; null once the writer
    // stopped.
    uint8_t* reserve(size_t bytes) {
        if (state_ != State::Writing || bytes > reservationLimit_) return nullptr;
        if (used_ + bytes > bufferEnd_ && !writeWholeUnits()) return nullptr;
        return buffer_.get() + used_;
    }
    // Adds `frames` whole frames (`frames * blockAlign` bytes) converted into
    // the last reservation. Returns false when keeping the file current failed.
    bool commit(uint64_t frames) {
        if (state_ != State::Writing) return false;
        used_ += static_cast<size_t>(frames) * format_.blockAlign();
        frames_ += frames;
        if (frames_ - claimedFrames_ >= format_.sampleRate) return checkpoint();
        return true;
    }

    // Writes out the buffer and completes the header, then closes the sink.
    // After a failed write, completes the header for the whole frames that
    // reached the file and returns false. Returns false if not writing.
    bool finish();

private:
    enum class State { Idle, Writing, Failed, Closed };

    size_t wholeUnitsEnd() const { return used_ & ~(unit_ - 1); }
    bool writeOut(size_t end);
    bool writeWholeUnits();
    bool checkpoint();
    bool describe(uint64_t dataBytes);
    SinkResult putHeader(uint64_t dataBytes);
    bool succeeded(const SinkResult& result);
    void fail(int errnum);
    void completeAfterFailure();

    std::unique_ptr<ByteSink> sink_;
    Options options_;
    State state_ = State::Idle;
    int errno_ = 0;
    WaveFormat format_{};
    size_t headerBytes_ = 0;

    // The buffer mirrors the file's layout: the byte at buffer index i goes
    // to a file offset equal to i modulo the unit (and so modulo the page
    // size), so unit boundaries are found by index, and the kernel copies
    // between equally aligned addresses (faster than a copy whose source and
    // destination are misaligned to each other). Unwritten bytes sit at
    // [pending_, used_). The buffer holds a reservation after less than a
    // unit of them: capacity_ + unit_ bytes.
    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, AlignedFree> buffer_;
    size_t capacity_ = 0;
    size_t reservationLimit_ = 0;
    size_t unit_ = 1;
    size_t bufferEnd_ = 0;
    size_t pending_ = 0;
    size_t used_ = 0;

    uint64_t frames_ = 0;         // committed frames (buffered ones included)
    uint64_t bytesOnDisk_ = 0;    // sample bytes that reached the sink
    uint64_t claimedFrames_ = 0;  // frames the header in the file describes
};

}  // namespace media
