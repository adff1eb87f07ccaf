#include "FilesystemRoom.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace platform::files {

FilesystemRoom filesystemRoomAt(const std::string& folder) {
    FilesystemRoom room;
    struct statfs kind {};
    struct statvfs space {};
    if (::statfs(folder.c_str(), &kind) != 0 || ::statvfs(folder.c_str(), &space) != 0) return room;
    room.known = true;
    room.inMemory = kind.f_type == TMPFS_MAGIC || kind.f_type == RAMFS_MAGIC;
    room.freeBytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    return room;
}

}  // namespace platform::files
