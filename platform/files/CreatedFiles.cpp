#include "CreatedFiles.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "DescriptorLinks.h"

namespace platform::files {

namespace {

struct Records {
    std::mutex mutex;
    std::vector<CreatedFileRecord*> live;  // oldest first
};

// Never destroyed: records owned by process-wide objects (the recorder's
// writer) are released after static destructors have run.
Records& records() {
    static Records* const r = new Records;
    return *r;
}

}  // namespace

// Read-only: nothing can write the file through the record, also once the
// hand-over has given the same file the shared recording's name.
CreatedFileRecord::CreatedFileRecord(std::string path, int fd) : path_(std::move(path)), fd_(reopenReadOnly(fd)) {
    std::lock_guard lock(records().mutex);
    records().live.push_back(this);
}

CreatedFileRecord::~CreatedFileRecord() {
    std::lock_guard lock(records().mutex);
    auto& live = records().live;
    live.erase(std::find(live.begin(), live.end(), this));
}

void CreatedFileRecord::noteCutShort(std::string reason) {
    std::lock_guard lock(records().mutex);
    cutShort_ = std::move(reason);
}

CreatedFileLookup createdFileAt(std::string_view path) {
    std::lock_guard lock(records().mutex);
    const auto& live = records().live;
    const auto found = std::find_if(live.rbegin(), live.rend(), [&](const auto* r) { return r->path() == path; });
    if (found == live.rend()) return {};
    return {(*found)->descriptor(), (*found)->cutShort_};
}

}  // namespace platform::files
