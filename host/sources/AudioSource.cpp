#include "AudioSource.h"

#include <stdexcept>

namespace host {

size_t AudioSource::readEncoded(std::span<std::byte>, size_t) {
    throw std::logic_error("this source does not hold encoded audio");
}

}  // namespace host
