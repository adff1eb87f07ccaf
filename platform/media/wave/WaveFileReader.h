#pragma once
// A WAVE file opened for reading: its header read and judged once, then its
// samples read in order from the first frame.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "FilePass.h"
#include "WaveHeader.h"
#include "platform/pcm/SampleCodecs.h"

namespace media::wave {

class WaveFileReader {
public:
    // Opens `path` read-only, never following a symbolic link nor waiting
    // for a FIFO's writer, and reads its header.
    explicit WaveFileReader(const std::string& path);
    // Reads the file open as `fd` (from offset 0, whatever its offset), which
    // the reader takes over and closes: the very file a caller holds, whatever
    // its name leads to now.
    struct OpenFile {
        int fd;
    };
    explicit WaveFileReader(OpenFile file);
    ~WaveFileReader();
    WaveFileReader(const WaveFileReader&) = delete;
    WaveFileReader& operator=(const WaveFileReader&) = delete;

    // Missing (nothing at the path), Unreadable (a link, not a regular file,
    // an error), or what the header says.
    WaveStatus status() const { return header_.status; }
    const std::string& problem() const { return header_.problem; }
    const WaveDescription& description() const { return header_.description; }
    uint64_t fileBytes() const { return fileBytes_; }
    // The open file, or -1: a caller may copy the very file it inspected.
    int fd() const { return fd_; }

    // Reads the next whole frames that fit in `out` from the frames of the
    // data chunk that are in the file, as left-justified samples (full scale
    // 2^31 whatever the width); returns the count, 0 at the end. Returns 0
    // with readProblem() set when they cannot be read: no data chunk,
    // samples other than integer PCM of 8 to 32 bits, a read error.
    size_t readSamples(std::span<int32_t> out);
    // The next whole frames as the file stores them (little-endian), as many
    // as one read brought in; valid until the next read. Empty at the end, or
    // with readProblem() set as above.
    std::span<const uint8_t> readFrameBytes() { return takeFrames(UINT64_MAX); }
    const std::string& readProblem() const { return readProblem_; }

private:
    // Samples are read in chunks of this size; before each, room for the
    // partial frame (less than the largest block align) left from the last.
    static constexpr size_t kChunkBytes = 256 * 1024;
    static constexpr size_t kCarryRoom = 64 * 1024;
    // Samples past this size (three minutes of CD audio) are read around
    // the page cache: a long recording read once would otherwise fill
    // memory, and pay for every page it brings in (where free memory goes
    // back to a hypervisor, a fault each). Smaller ones are likely cached.
    static constexpr uint64_t kDirectFromBytes = 32 << 20;

    void readHead();
    bool prepareSamples();
    // Prepared once, on the first read; false for good after a problem.
    bool samplesReady() { return decode_ != nullptr || (readProblem_.empty() && prepareSamples()); }
    bool refill();
    std::span<const uint8_t> takeFrames(uint64_t maxFrames);

    int fd_ = -1;
    uint64_t fileBytes_ = 0;
    WaveHeaderReading header_;
    pcm::IntDecoder decode_ = nullptr;
    std::unique_ptr<FilePass> pass_;
    struct ChunkFree {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, ChunkFree> chunk_;
    size_t cursor_ = 0;        // the next frame not yet handed out
    size_t filled_ = 0;        // the end of the bytes read
    size_t skip_ = 0;          // the bytes before the first sample in the first chunk
    uint64_t readOffset_ = 0;  // where the next chunk starts in the file
    uint64_t dataEnd_ = 0;     // the end of the whole frames in the file
    std::string readProblem_;
};

}  // namespace media::wave
