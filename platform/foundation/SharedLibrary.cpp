#include "SharedLibrary.h"

#include <dlfcn.h>

namespace platform {

std::string loadSharedLibrary(const char* soname, std::initializer_list<LibrarySymbol> symbols) {
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return std::string("cannot load ") + soname + ": " + ::dlerror();
    for (const LibrarySymbol& symbol : symbols) {
        *symbol.slot = ::dlsym(handle, symbol.name);
        if (*symbol.slot == nullptr) return std::string("the installed ") + soname + " has no " + symbol.name;
    }
    return {};
}

}  // namespace platform
