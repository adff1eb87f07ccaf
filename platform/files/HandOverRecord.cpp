#include "HandOverRecord.h"

#include <mutex>

namespace platform::files {
namespace {

struct Record {
    std::mutex mutex;
    HandOver last;
    uint64_t removals = 0;
};

// Never destroyed: a broadcast may hand over while static destructors run.
Record& record() {
    static Record* const r = new Record;
    return *r;
}

}  // namespace

HandOver lastHandOver() {
    std::lock_guard lock(record().mutex);
    return record().last;
}

void recordHandOver(HandOver handOver) {
    std::lock_guard lock(record().mutex);
    handOver.serial = record().last.serial + 1;
    record().last = std::move(handOver);
}

uint64_t containerRemovals() {
    std::lock_guard lock(record().mutex);
    return record().removals;
}

void countContainerRemoval() {
    std::lock_guard lock(record().mutex);
    ++record().removals;
}

}  // namespace platform::files
