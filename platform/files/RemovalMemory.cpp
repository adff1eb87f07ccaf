#include "RemovalMemory.h"

#include <mutex>
#include <utility>

namespace platform::files {
namespace {

struct Memory {
    std::mutex mutex;
    std::string path;
};

Memory& memory() {
    static Memory m;
    return m;
}

}  // namespace

void noteRemovalAsked(std::string_view path) {
    std::lock_guard lock(memory().mutex);
    memory().path = path;
}

bool takeRemovalAsked(std::string_view path) {
    std::lock_guard lock(memory().mutex);
    return std::exchange(memory().path, std::string()) == path;
}

}  // namespace platform::files
