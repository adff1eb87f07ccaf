#pragma once
// File services: the process's temporary directory, the containers of the app
// groups the extension is entitled to, removal and copying.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../foundation/NSError.h"
#include "../foundation/NSURL.h"
#include "FolderLocations.h"

// The process's private temporary directory, "<parent>/broadcast-extension-<uid>"
// below the parent that chooseTemporaryDirectoryParent() names (TMPDIR, else
// the user's cache folder), created with mode 0700 on first use; the parent
// is made only when it is the cache folder. The path is returned even when
// the directory is missing or unsafe (a symlink, another user's, open to
// others): files are then refused inside it. Empty when the environment
// names no usable parent; no file is made then.
std::string NSTemporaryDirectory();

class NSFileManager {
public:
    static NSFileManager& defaultManager();

    // The container directory of `groupIdentifier`, created (0700) on first
    // use under the container root; none when the extension's bundle does
    // not declare the group, or the container or its root cannot be created
    // or is unsafe (a symlink, another user's, open to others).
    //
    // Removal and copying reach a file only through a descriptor of the
    // private directory that holds it (a container from its root down), so a
    // directory swapped for a link meanwhile is refused, never followed.
    // Relative paths are refused.
    std::optional<NSURL> containerURLForSecurityApplicationGroupIdentifier(std::string_view groupIdentifier);

    // Removes the file (or empty directory, or link itself) at `url`. No URL
    // does nothing. `error` may be null.
    bool removeItemAtURL(const std::optional<NSURL>& url, NSErrorPtr* error);

    // Copies the regular file at `source` to `destination`, which must not
    // exist, unless this process last asked to remove just that destination:
    // what is there then was placed meanwhile by another process, and the
    // newest copy wins. When this process created the file at `source` (the
    // media writer's file) and still holds it, that file is copied, whatever
    // the name holds now. The copy is a clone, a hard link of that very file,
    // or a copy of its bytes (see CopyIntoPlace.h); it appears at the
    // destination in one step, replacing whatever another process placed
    // there meanwhile (a link itself, never what it leads to), and nothing
    // named is left behind by a failure or a kill. Fails with an error when
    // there is no destination URL. Every call is kept as the last hand-over
    // (HandOverRecord.h).
    bool copyItemAtURL(const NSURL& source, const std::optional<NSURL>& destination, NSErrorPtr* error);
};

namespace platform {

// The application groups the running extension is entitled to, from its
// bundle declaration; set by the process entry. Containers exist only for these.
void setEntitledApplicationGroups(std::vector<std::string> groups);

}  // namespace platform
