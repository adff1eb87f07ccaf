#include "PulseLibrary.h"

#include "host/HostError.h"

namespace host {

const PulseLibrary& pulseLibrary() {
    static const PulseLibrary library;
    if (!library.problem.empty())
        throw sourceError("live sources need libpulse (Debian: libpulse0): " + library.problem);
    return library;
}

}  // namespace host
