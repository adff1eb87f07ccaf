#include "CreatedFiles.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform::files {

namespace {

struct Records {
    std::mutex mutex;
    std::vector<const CreatedFileRecord*> live;  // oldest first
};

// Never destroyed: records owned by process-wide objects (the recorder's
// writer) are released after static destructors have run.
Records& records() {
    static Records* const r = new Records;
    return *r;
}

}  // namespace

CreatedFileRecord::CreatedFileRecord(std::string path, UniqueDescriptor fd)
    : path_(std::move(path)), fd_(std::move(fd)) {
    std::lock_guard lock(records().mutex);
    records().live.push_back(this);
}

CreatedFileRecord::~CreatedFileRecord() {
    std::lock_guard lock(records().mutex);
    auto& live = records().live;
    live.erase(std::find(live.begin(), live.end(), this));
}

int descriptorOfCreatedFile(std::string_view path) {
    std::lock_guard lock(records().mutex);
    const auto& live = records().live;
    const auto found = std::find_if(live.rbegin(), live.rend(), [&](const auto* r) { return r->path() == path; });
    return found == live.rend() ? -1 : (*found)->descriptor();
}

}  // namespace platform::files
