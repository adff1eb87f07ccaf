#pragma once
// Shared libraries loaded when first needed rather than with the program:
// runs that never use one neither need it installed nor carry its code and
// its dependencies in memory. A library's functions are pointer members of a
// struct, one per name of a list macro:
//   #define SOME_FUNCTIONS(X) X(some_open) X(some_close)
//   struct Some { SOME_FUNCTIONS(PLATFORM_LIBRARY_POINTER) };
//   loadSharedLibrary("libsome.so.1", {SOME_FUNCTIONS(PLATFORM_LIBRARY_SYMBOL)});  // inside a member of Some

#include <initializer_list>
#include <string>

namespace platform {

// A function of a library and where its address goes.
struct LibrarySymbol {
    const char* name;
    void** slot;
};

// Opens `soname` (it stays open for the life of the process) and fills every
// slot. Returns an empty string, or why the library cannot be used.
std::string loadSharedLibrary(const char* soname, std::initializer_list<LibrarySymbol> symbols);

}  // namespace platform

#define PLATFORM_LIBRARY_POINTER(name) decltype(&::name) name = nullptr;
#define PLATFORM_LIBRARY_SYMBOL(name) platform::LibrarySymbol{#name, reinterpret_cast<void**>(&this->name)},
