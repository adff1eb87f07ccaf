#pragma once
// A fixed ring of audio frames between one producer thread and one consumer
// thread, without locks: the sound server's thread puts what arrives, the
// host's thread takes whole buffers. Set up once; putting and taking copy
// bytes and allocate nothing. What does not fit is dropped and reported.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace host {

class FrameRing {
public:
    FrameRing(size_t frames, size_t frameBytes) : bytes_(frames * frameBytes), frameBytes_(frameBytes) {}

    // Producer: copies as many whole frames of `data` as fit; returns the
    // frames that did not.
    size_t put(const void* data, size_t size) {
        const size_t frames = size / frameBytes_;
        const uint64_t taken = taken_.load(std::memory_order_acquire);
        const uint64_t put = put_.load(std::memory_order_relaxed);
        const size_t room = (bytes_.size() - static_cast<size_t>(put - taken)) / frameBytes_;
        const size_t fits = std::min(frames, room);
        copyIn(static_cast<const std::byte*>(data), fits * frameBytes_, put);
        put_.store(put + fits * frameBytes_, std::memory_order_release);
        return frames - fits;
    }

    // Consumer: copies up to `frames` whole frames into `out`; returns how many.
    size_t take(std::byte* out, size_t frames) {
        const uint64_t put = put_.load(std::memory_order_acquire);
        const uint64_t taken = taken_.load(std::memory_order_relaxed);
        const size_t count = std::min(frames, static_cast<size_t>(put - taken) / frameBytes_);
        const size_t size = count * frameBytes_;
        const size_t at = static_cast<size_t>(taken % bytes_.size());
        const size_t first = std::min(size, bytes_.size() - at);
        std::memcpy(out, bytes_.data() + at, first);
        std::memcpy(out + first, bytes_.data(), size - first);
        taken_.store(taken + size, std::memory_order_release);
        return count;
    }

    size_t frameBytes() const { return frameBytes_; }

private:
    void copyIn(const std::byte* data, size_t size, uint64_t put) {
        const size_t at = static_cast<size_t>(put % bytes_.size());
        const size_t first = std::min(size, bytes_.size() - at);
        std::memcpy(bytes_.data() + at, data, first);
        std::memcpy(bytes_.data(), data + first, size - first);
    }

    std::vector<std::byte> bytes_;
    size_t frameBytes_;
    std::atomic<uint64_t> put_{0};    // bytes ever put
    std::atomic<uint64_t> taken_{0};  // bytes ever taken
};

}  // namespace host
