#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "ByteSink.h"

namespace media {

FileDescriptorSink::~FileDescriptorSink() { close(); }

SinkResult FileDescriptorSink::writeAt(uint64_t offset, const void* data, size_t size) {
    SinkResult result;
    if (fd_ < 0) {
        result.error = EBADF;
        return result;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (result.written < size) {
        const uint64_t at = offset + result.written;
        if (at > static_cast<uint64_t>(INT64_MAX)) {
            result.error = EFBIG;
            break;
        }
        const ssize_t n = ::pwrite(fd_, bytes + result.written, size - result.written, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = errno;
            break;
        }
        if (n == 0) {  // no progress and no reason: treat as a full device
            result.error = ENOSPC;
            break;
        }
        result.written += static_cast<size_t>(n);
    }
    return result;
}

int FileDescriptorSink::truncate(uint64_t size) {
    if (fd_ < 0) return EBADF;
    if (size > static_cast<uint64_t>(INT64_MAX)) return EFBIG;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

int FileDescriptorSink::close() {
    if (fd_ < 0) return 0;
    const int fd = fd_;
    fd_ = -1;
    // Linux releases the descriptor even when close reports an error, so it
    // is never retried.
    return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace media
