#include "RecordingInspector.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "WaveLayoutCheck.h"

namespace containing_app {

namespace {

using Status = RecordingReport::Status;

uint32_t bitsOf(int sndfileFormat, uint16_t fromHeader) {
    switch (sndfileFormat & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8: return 8;
        case SF_FORMAT_PCM_16: return 16;
        case SF_FORMAT_PCM_24: return 24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT: return 32;
        case SF_FORMAT_DOUBLE: return 64;
        default: return fromHeader;
    }
}

// Opens the file with libsndfile to confirm that an audio reader accepts it
// and agrees with the header about the number of frames.
void readWithLibsndfile(int fd, const WaveLayout& layout, RecordingReport& report) {
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        report.status = Status::Invalid;
        report.error = std::string("libsndfile cannot read it: ") + sf_strerror(nullptr);
        return;
    }
    sf_close(file);
    report.sampleRate = static_cast<uint32_t>(info.samplerate);
    report.channels = static_cast<uint32_t>(info.channels);
    report.bitsPerSample = bitsOf(info.format, layout.bitsPerSample);
    report.frames = static_cast<uint64_t>(info.frames);
    report.durationSeconds = info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0;
    const uint64_t headerFrames = layout.dataBytes / layout.blockAlign;
    if (report.frames != headerFrames) {
        report.status = Status::Incomplete;
        report.error = "libsndfile reads " + std::to_string(report.frames) + " frames but the header holds " +
                       std::to_string(headerFrames);
        return;
    }
    report.status = Status::Complete;
}

}  // namespace

OpenRecording::OpenRecording(const std::string& path) {
    report_.path = path;
    // O_NONBLOCK: a FIFO planted at the path must not hang the open.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT) {
            report_.status = Status::Missing;
            report_.error = "no recording at " + path;
            report_.path.clear();
        } else {
            report_.status = Status::Invalid;
            report_.error = error == ELOOP ? "it is a symbolic link" : std::strerror(error);
        }
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        report_.status = Status::Invalid;
        report_.error = "not a regular file";
        ::close(fd_);
        fd_ = -1;
        return;
    }
    report_.fileBytes = static_cast<uint64_t>(st.st_size);

    const int fd = fd_;
    const WaveLayout layout = checkWaveLayout(
        [fd](uint64_t offset, void* out, size_t size) -> long {
            size_t done = 0;
            while (done < size) {
                const ssize_t n = ::pread(fd, static_cast<char*>(out) + done, size - done,
                                          static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return -1;
                if (n == 0) break;
                done += static_cast<size_t>(n);
            }
            return static_cast<long>(done);
        },
        report_.fileBytes);
    report_.container = layout.rf64 ? "RF64" : "RIFF";
    report_.channels = layout.channels;
    report_.sampleRate = layout.sampleRate;
    report_.bitsPerSample = layout.bitsPerSample;
    switch (layout.verdict) {
        case WaveLayout::Verdict::NotWave:
            report_.status = Status::Invalid;
            report_.container.clear();
            report_.error = layout.problem;
            return;
        case WaveLayout::Verdict::Incomplete:
            report_.status = Status::Incomplete;
            report_.error = layout.problem;
            return;
        case WaveLayout::Verdict::Complete:
            break;
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        report_.status = Status::Invalid;
        report_.error = std::strerror(errno);
        return;
    }
    readWithLibsndfile(fd_, layout, report_);
}

OpenRecording::~OpenRecording() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace containing_app
