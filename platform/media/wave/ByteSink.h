#pragma once
// Where a WAVE file's bytes go. The file writer only ever writes at explicit
// offsets (samples appended after the header, the header rewritten in place),
// so a sink is a positional write plus truncation. Tests use sinks of their
// own to inject failures or to observe the writes.

#include <cstddef>
#include <cstdint>

namespace media {

struct SinkResult {
    size_t written = 0;  // bytes that reached the sink before any failure
    int error = 0;       // errno of the failure, 0 when everything was written
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes at `offset`, or as many as it can and the reason.
    virtual SinkResult writeAt(uint64_t offset, const void* data, size_t size) = 0;
    // Cuts or extends the sink to `size` bytes; returns 0 or an errno.
    virtual int truncate(uint64_t size) = 0;
    // Releases the sink; later calls fail. Returns 0 or an errno.
    virtual int close() = 0;
};

// A sink over an open file descriptor, which it owns and closes.
class FileDescriptorSink final : public ByteSink {
public:
    explicit FileDescriptorSink(int fd) : fd_(fd) {}
    ~FileDescriptorSink() override;
    FileDescriptorSink(const FileDescriptorSink&) = delete;
    FileDescriptorSink& operator=(const FileDescriptorSink&) = delete;

    SinkResult writeAt(uint64_t offset, const void* data, size_t size) override;
    int truncate(uint64_t size) override;
    int close() override;

private:
    int fd_;
};

}  // namespace media
