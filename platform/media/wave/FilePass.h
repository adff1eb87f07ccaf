#pragma once
// Reads of a regular file's bytes, and one pass in order over them in
// aligned chunks that can go around the page cache (O_DIRECT): reading a
// long recording once then neither fills memory with it nor pays to bring
// in pages that nothing reads again.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace media::wave {

// Reads up to `size` bytes at `offset`, short only at the end of the file;
// -1 with errno on error.
ssize_t readAt(int fd, uint8_t* out, size_t size, uint64_t offset);

class FilePass {
public:
    // Offsets and buffers aligned to this suit direct reads on any device.
    static constexpr size_t kAlign = 4096;

    // Reads the file open as `fd`, which stays the caller's; around the
    // page cache when `direct` and the file system allows it.
    FilePass(int fd, bool direct);
    ~FilePass();
    FilePass(const FilePass&) = delete;
    FilePass& operator=(const FilePass&) = delete;

    // Reads `size` bytes at `offset` (a multiple of kAlign) into `out`
    // (aligned to kAlign, with room for `size` rounded up to kAlign);
    // returns the count, short only at the end of the file, or -1 with errno.
    ssize_t read(uint8_t* out, size_t size, uint64_t offset);

private:
    int fd_;
    int directFd_ = -1;
};

}  // namespace media::wave
