#pragma once
// Creating a new file only inside a private directory of this user.

#include <string_view>

#include "../foundation/NSError.h"

namespace platform::files {

struct CreatedFile {
    int fd = -1;       // open for reading and writing, close-on-exec; -1 on failure
    NSErrorPtr error;  // why there is no file
};

// Creates `path` as a new regular file with mode 0600. Fails, with an error
// naming the path and the system's reason, when the path is not absolute or
// does not end in a file name, anything already exists at the path (a
// symbolic link included; but a file another process made there since this
// one asked to remove the path loses the name, see RemovalMemory.h), or the
// containing directory is a symbolic link,
// cannot be opened, is not owned by this user or is writable by group or
// others. The file is created relative
// to the opened directory, so a directory swapped for a link afterwards
// cannot redirect it.
CreatedFile createFileInPrivateDirectory(std::string_view path);

}  // namespace platform::files
