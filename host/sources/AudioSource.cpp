#include "AudioSource.h"

#include <stdexcept>

namespace host {

size_t AudioSource::readCodes16(std::span<int16_t>, size_t, double, uint32_t) {
    throw std::logic_error("this source does not hold 16-bit codes");
}

size_t AudioSource::readEncoded(std::span<std::byte>, size_t) {
    throw std::logic_error("this source does not hold encoded audio");
}

size_t PcmReader::readCodes16(int16_t*, size_t) {
    throw std::logic_error("this input does not hold 16-bit codes");
}

}  // namespace host
