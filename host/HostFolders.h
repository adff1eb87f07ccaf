#pragma once
// The folders a run records in, chosen and checked before the extension sees
// a call: the app-group container root and the temporary directory's parent,
// from the command line or else the environment (see
// platform/files/FolderLocations.h). Anything unusable is refused with exit
// status 6, naming the option or variable: an empty or relative value, a
// path below a file, a folder that cannot be made.

#include <optional>
#include <string>

namespace host {

struct ChosenFolders {
    std::string containerRoot;
    std::string temporaryParent;
};

// Checks both folders, makes the container root and the cache folder where
// missing (0700), and hands both to the platform. Throws HostError.
ChosenFolders chooseFolders(const std::optional<std::string>& containerRootOption,
                            const std::optional<std::string>& tempDirOption);

}  // namespace host
