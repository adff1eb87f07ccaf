#pragma once
// A fixed ring of audio frames: the sound server's fragments go in as they
// arrive, the host takes whole buffers out. Set up once; putting and taking
// copy bytes and allocate nothing. What does not fit is left out and
// reported to the caller. The storage is not cleared, and an emptied ring
// starts again at its beginning, so only as much memory is touched as the
// ring ever held at once (the host keeps up: a fragment or two), not its
// whole reserve.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace host {

class FrameRing {
public:
    FrameRing(size_t frames, size_t frameBytes)
        : bytes_(new std::byte[frames * frameBytes]), size_(frames * frameBytes), frameBytes_(frameBytes) {}

    size_t frames() const { return used_ / frameBytes_; }
    size_t frameBytes() const { return frameBytes_; }

    // Copies as many whole frames of `data` (null: silence) as fit; returns
    // the frames that did not.
    size_t put(const void* data, size_t frames) {
        const size_t fits = std::min(frames, (size_ - used_) / frameBytes_);
        size_t at = (start_ + used_) % size_;
        for (size_t left = fits * frameBytes_, done = 0; left > 0;) {
            const size_t piece = std::min(left, size_ - at);
            if (data != nullptr)
                std::memcpy(bytes_.get() + at, static_cast<const std::byte*>(data) + done, piece);
            else
                std::memset(bytes_.get() + at, 0, piece);
            at = (at + piece) % size_;
            done += piece;
            left -= piece;
        }
        used_ += fits * frameBytes_;
        return frames - fits;
    }

    // Moves up to `frames` frames into `out` (null: drops them); returns how many.
    size_t take(std::byte* out, size_t frames) {
        const size_t count = std::min(frames, this->frames());
        for (size_t left = count * frameBytes_, done = 0; left > 0;) {
            const size_t piece = std::min(left, size_ - start_);
            if (out != nullptr) std::memcpy(out + done, bytes_.get() + start_, piece);
            start_ = (start_ + piece) % size_;
            done += piece;
            left -= piece;
        }
        used_ -= count * frameBytes_;
        if (used_ == 0) start_ = 0;
        return count;
    }

    // Calls `visit(bytes, size)` for the stored bytes, oldest first (one or
    // two pieces).
    template <typename Visit>
    void forEachPiece(Visit visit) const {
        const size_t first = std::min(used_, size_ - start_);
        if (first > 0) visit(bytes_.get() + start_, first);
        if (used_ > first) visit(bytes_.get(), used_ - first);
    }

private:
    std::unique_ptr<std::byte[]> bytes_;
    size_t size_;
    size_t frameBytes_;
    size_t start_ = 0;  // oldest byte
    size_t used_ = 0;   // bytes stored
};

}  // namespace host
