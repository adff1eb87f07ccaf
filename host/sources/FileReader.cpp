#include "FileReader.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "AudioEncoding.h"
#include "host/HostError.h"
#include "host/HostWarnings.h"
#include "platform/foundation/SharedLibrary.h"

namespace host {
namespace {

// libsndfile (and the codecs it brings) is loaded by the first file source.
#define HOST_SNDFILE_FUNCTIONS(X) \
    X(sf_close) X(sf_command) X(sf_error) X(sf_open_fd) X(sf_read_raw) X(sf_readf_double) X(sf_strerror)

struct Sndfile {
    HOST_SNDFILE_FUNCTIONS(PLATFORM_LIBRARY_POINTER)
    std::string problem =
        platform::loadSharedLibrary("libsndfile.so.1", {HOST_SNDFILE_FUNCTIONS(PLATFORM_LIBRARY_SYMBOL)});
};

const Sndfile& sndfile() {
    static const Sndfile library;
    if (!library.problem.empty())
        throw sourceError("file sources need libsndfile (Debian: libsndfile1): " + library.problem);
    return library;
}

constexpr size_t kBlockBytes = size_t{64} << 10;

// How an uncompressed file stores its samples; none for the files that only
// libsndfile can decode.
std::optional<pcm::SampleEncoding> storedSamples(SNDFILE* file, int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
        case SF_FORMAT_RF64:
        case SF_FORMAT_W64:
        case SF_FORMAT_AIFF:
        case SF_FORMAT_AU:
        case SF_FORMAT_CAF: break;
        default: return std::nullopt;
    }
    // Swapped bytes on this little-endian machine are big-endian samples.
    const bool big = sndfile().sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
    using Kind = pcm::SampleKind;
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: return pcm::SampleEncoding{Kind::SignedInt, 1, 8, big, false};
        case SF_FORMAT_PCM_U8: return pcm::SampleEncoding{Kind::UnsignedInt, 1, 8, big, false};
        case SF_FORMAT_PCM_16: return pcm::SampleEncoding{Kind::SignedInt, 2, 16, big, false};
        case SF_FORMAT_PCM_24: return pcm::SampleEncoding{Kind::SignedInt, 3, 24, big, false};
        case SF_FORMAT_PCM_32: return pcm::SampleEncoding{Kind::SignedInt, 4, 32, big, false};
        case SF_FORMAT_FLOAT: return pcm::SampleEncoding{Kind::Float, 4, 32, big, false};
        case SF_FORMAT_DOUBLE: return pcm::SampleEncoding{Kind::Float, 8, 64, big, false};
        default: return std::nullopt;
    }
}

// Why libsndfile could not open a file, in this program's words.
std::string openFailure() {
    switch (sndfile().sf_error(nullptr)) {
        case SF_ERR_UNRECOGNISED_FORMAT: return "it is empty or not in a sound format libsndfile reads";
        case SF_ERR_UNSUPPORTED_ENCODING: return "its samples are in an encoding libsndfile cannot decode";
        case SF_ERR_SYSTEM: return std::string("reading it failed: ") + sndfile().sf_strerror(nullptr);
        default:
            return std::string("its header is damaged or gives no usable rate, channels or format (libsndfile: ") +
                   sndfile().sf_strerror(nullptr) + ")";
    }
}

}  // namespace

FileReader::FileReader(const std::string& path, toolkit::StopToken stop) : path_(path), stop_(stop) {
    const auto refuse = [&](const std::string& why) {
        return sourceError("cannot read sound file \"" + path + "\": " + why);
    };
    // Opened without waiting: a FIFO's open would block until a writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        throw refuse(std::strerror(error));
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw refuse("it is a directory");
    }
    if (S_ISREG(st.st_mode)) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        fd_ = fd;
    } else {
        pump_.emplace(fd, stop);
    }
    SF_INFO info{};
    file_ = sndfile().sf_open_fd(pump_ ? pump_->fd() : fd_, SFM_READ, &info, SF_FALSE);
    if (file_ == nullptr) {
        if (fd_ >= 0) ::close(fd_);
        if (stop.requested())
            throw HostError(static_cast<ExitCode>(128 + stop.signal()), "stopped while opening \"" + path + "\"");
        throw refuse(openFailure());
    }
    if (info.samplerate < 1 || static_cast<uint32_t>(info.samplerate) > kMaxSampleRate || info.channels < 1 ||
        static_cast<uint32_t>(info.channels) > kMaxChannels) {
        sndfile().sf_close(file_);
        file_ = nullptr;
        if (fd_ >= 0) ::close(fd_);
        throw refuse("its rate or channel count is not one a broadcast can carry (" + std::to_string(info.samplerate) +
                     " Hz, " + std::to_string(info.channels) + " channels)");
    }
    sampleRate_ = info.samplerate;
    channels_ = static_cast<uint32_t>(info.channels);
    framesExpected_ = info.frames;
    if (const auto stored = storedSamples(file_, info.format)) {
        decode_ = pcm::codecFor(*stored).decodeReal;
        frameBytes_ = channels_ * stored->containerBytes;
        block_.resize(kBlockBytes / frameBytes_ * frameBytes_);
    }
}

FileReader::~FileReader() {
    if (file_ != nullptr) sndfile().sf_close(file_);
    if (fd_ >= 0) ::close(fd_);
}

size_t FileReader::checked(int64_t got, size_t asked) {
    if (got < 0 || (got == 0 && sndfile().sf_error(file_) != SF_ERR_NO_ERROR))
        throw sourceError("reading sound file \"" + path_ + "\" failed: " + sndfile().sf_strerror(file_));
    framesRead_ += got;
    if (static_cast<size_t>(got) < asked && framesRead_ < framesExpected_ && !stop_.requested()) {
        warn("sound file \"" + path_ + "\" ended after " + std::to_string(framesRead_) + " of its " +
             std::to_string(framesExpected_) + " frames (was it cut short while playing?); the stream ends there");
        framesExpected_ = framesRead_;
    }
    return static_cast<size_t>(got);
}

size_t FileReader::read(double* out, size_t frames) {
    if (decode_ == nullptr)
        return checked(sndfile().sf_readf_double(file_, out, static_cast<sf_count_t>(frames)), frames);
    size_t done = 0;
    while (done < frames) {
        if (blockAt_ == blockEnd_) {
            const size_t asked = block_.size() / frameBytes_;
            const sf_count_t bytes =
                sndfile().sf_read_raw(file_, block_.data(), static_cast<sf_count_t>(block_.size()));
            const size_t got = checked(bytes < 0 ? bytes : bytes / static_cast<sf_count_t>(frameBytes_), asked);
            if (got == 0) break;
            blockAt_ = 0;
            blockEnd_ = got * frameBytes_;
        }
        const size_t count = std::min(frames - done, (blockEnd_ - blockAt_) / frameBytes_);
        decode_(block_.data() + blockAt_, count * channels_, out + done * channels_, 1);
        blockAt_ += count * frameBytes_;
        done += count;
    }
    return done;
}

}  // namespace host
