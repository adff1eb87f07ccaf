#pragma once
// How much more the filesystem that holds a folder can take, and whether it
// lives in memory (a tmpfs), where a growing recording takes RAM.

#include <cstdint>
#include <string>

namespace platform::files {

struct FilesystemRoom {
    bool known = false;      // false when the folder cannot be looked at
    bool inMemory = false;   // tmpfs or ramfs
    uint64_t freeBytes = 0;  // what this user may still write
};

FilesystemRoom filesystemRoomAt(const std::string& folder);

}  // namespace platform::files
