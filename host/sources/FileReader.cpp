#include "FileReader.h"

#include <sndfile.h>

#include "host/HostError.h"
#include "host/encoding/SampleLayout.h"

namespace host {

FileReader::FileReader(const std::string& path) : path_(path) {
    SF_INFO info{};
    file_ = sf_open(path.c_str(), SFM_READ, &info);
    if (file_ == nullptr)
        throw sourceError("cannot read sound file \"" + path + "\": " + sf_strerror(nullptr));
    if (info.samplerate < 1 || static_cast<uint32_t>(info.samplerate) > kMaxSampleRate ||
        info.channels < 1 || static_cast<uint32_t>(info.channels) > kMaxChannels) {
        sf_close(file_);
        file_ = nullptr;
        throw sourceError("sound file \"" + path + "\" has an unsupported rate or channel count");
    }
    sampleRate_ = static_cast<uint32_t>(info.samplerate);
    channels_ = static_cast<uint32_t>(info.channels);
}

FileReader::~FileReader() {
    if (file_ != nullptr) sf_close(file_);
}

size_t FileReader::read(double* out, size_t frames) {
    const sf_count_t got = sf_readf_double(file_, out, static_cast<sf_count_t>(frames));
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR))
        throw sourceError("reading sound file \"" + path_ + "\" failed: " + sf_strerror(file_));
    return static_cast<size_t>(got);
}

}  // namespace host
