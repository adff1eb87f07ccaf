#include "FileReader.h"

#include <sndfile.h>

#include "host/HostError.h"
#include "host/HostWarnings.h"
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
    sampleRate_ = info.samplerate;
    channels_ = static_cast<uint32_t>(info.channels);
    codes16_ = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    framesExpected_ = info.frames;
}

FileReader::~FileReader() {
    if (file_ != nullptr) sf_close(file_);
}

size_t FileReader::checked(int64_t got, size_t asked) {
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR))
        throw sourceError("reading sound file \"" + path_ + "\" failed: " + sf_strerror(file_));
    framesRead_ += got;
    if (static_cast<size_t>(got) < asked && framesRead_ < framesExpected_) {
        warn("sound file \"" + path_ + "\" ended after " + std::to_string(framesRead_) + " of its " +
             std::to_string(framesExpected_) + " frames (was it cut short while playing?); the stream ends there");
        framesExpected_ = framesRead_;
    }
    return static_cast<size_t>(got);
}

size_t FileReader::read(double* out, size_t frames) {
    return checked(sf_readf_double(file_, out, static_cast<sf_count_t>(frames)), frames);
}

size_t FileReader::readCodes16(int16_t* out, size_t frames) {
    if (!codes16_) return PcmReader::readCodes16(out, frames);
    static_assert(sizeof(short) == sizeof(int16_t));
    return checked(sf_readf_short(file_, reinterpret_cast<short*>(out), static_cast<sf_count_t>(frames)), frames);
}

}  // namespace host
