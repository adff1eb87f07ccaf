#pragma once
// A WAVE file opened for reading: its header read and judged once, then its
// samples read in order from the first frame.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

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
    // The same frames as the file stores them (little-endian): the next whole
    // frames that fit in `out`; returns the bytes read, 0 at the end or with
    // readProblem() set as above.
    size_t readFrameBytes(std::span<uint8_t> out);
    const std::string& readProblem() const { return readProblem_; }

private:
    void readHead();
    bool prepareSamples();
    // Prepared once, on the first read; false for good after a problem.
    bool samplesReady() { return decode_ != nullptr || (readProblem_.empty() && prepareSamples()); }
    uint64_t readFrames(uint8_t* out, uint64_t maxFrames);

    int fd_ = -1;
    uint64_t fileBytes_ = 0;
    WaveHeaderReading header_;
    pcm::IntDecoder decode_ = nullptr;
    uint64_t framesLeft_ = 0;
    uint64_t nextOffset_ = 0;
    std::vector<uint8_t> bytes_;
    std::string readProblem_;
};

}  // namespace media::wave
