#pragma once
// What this process's file services last did for a hand-over: the last copy
// into a container and the last removal from one. A caller (the host's
// summary) learns the outcome of its own hand-over from here, and reads the
// file it placed through the kept descriptor, never by the shared name, where
// another process may have placed its own file meanwhile.

#include <cstdint>
#include <memory>
#include <string>

#include "../foundation/NSError.h"
#include "CopyIntoPlace.h"

namespace platform::files {

struct HandOver {
    uint64_t serial = 0;      // 1 for this process's first copy, counting up; 0: none yet
    std::string destination;  // the path copied to; empty when there was no destination
    // Read-only, the file the copy placed (still this file when another process has
    // since replaced the name); none when the copy failed.
    std::shared_ptr<const UniqueDescriptor> placed;
    PlacementMethod method = PlacementMethod::Copy;
    NSErrorPtr error;            // why the copy failed
    std::string sourceCutShort;  // why the copied recording was cut short (a full disk); empty when whole
};

HandOver lastHandOver();
// Assigns the next serial and keeps `handOver` as the last one.
void recordHandOver(HandOver handOver);

// How many items this process has removed from app-group containers so far.
uint64_t containerRemovals();
void countContainerRemoval();

}  // namespace platform::files
