#include "PulseLibrary.h"

#include <dlfcn.h>

#include <string>

#include "host/HostError.h"

namespace host {
namespace {

PulseLibrary load() {
    void* handle = ::dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw sourceError(std::string("live sources need libpulse (Debian: libpulse0): ") + ::dlerror());
    PulseLibrary library;
#define HOST_PULSE_LOAD(name)                                                                             \
    library.name = reinterpret_cast<decltype(library.name)>(::dlsym(handle, #name));                      \
    if (library.name == nullptr) throw sourceError("the installed libpulse has no " #name);
    HOST_PULSE_FUNCTIONS(HOST_PULSE_LOAD)
#undef HOST_PULSE_LOAD
    return library;  // the handle stays open for the life of the process
}

}  // namespace

const PulseLibrary& pulseLibrary() {
    static const PulseLibrary library = load();
    return library;
}

}  // namespace host
