#pragma once
// Checks that the chunk layout of a RIFF or RF64 WAVE file agrees with the
// file's size: the RIFF size covers exactly the file, every chunk fits, and
// the data chunk holds whole frames. A recording whose header was never
// finished, or whose file was cut short, fails here even when an audio
// library would still open it.

#include <cstdint>
#include <functional>
#include <string>

namespace containing_app {

struct WaveLayout {
    enum class Verdict {
        Complete,    // sizes consistent with the file
        Incomplete,  // a WAVE file whose sizes disagree with its length
        NotWave,     // not a RIFF/RF64 WAVE file at all
    };
    Verdict verdict = Verdict::NotWave;
    std::string problem;  // why it is not complete
    bool rf64 = false;
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint64_t dataOffset = 0;
    uint64_t dataBytes = 0;
};

// Reads up to `size` bytes at `offset` into `out`; returns the count read
// (short only at end of file) or -1 on error.
using ReadAt = std::function<long(uint64_t offset, void* out, size_t size)>;

WaveLayout checkWaveLayout(const ReadAt& read, uint64_t fileSize);

}  // namespace containing_app
