#pragma once
// Where the extension's folders are: the parent of its private temporary
// directory and the root of the app-group containers, each from an override
// (the host's command line) or the environment. A variable that is set but
// empty or relative names no folder: it is reported, never replaced by a
// default, so a recording never lands where the user did not mean it to.

#include <string>
#include <string_view>

namespace platform {

struct FolderChoice {
    std::string path;                // absolute; empty when `problem` is set
    std::string from;                // what named it, for messages: "TMPDIR", "the cache folder under HOME", ...
    bool createWhenMissing = false;  // a folder of the user's own, made (0700, with its parents) when missing
    std::string problem;             // the variable that names no usable folder, with its value
};

// The container root: the override, else $APP_GROUP_CONTAINER_ROOT, else
// "$XDG_DATA_HOME/app-groups", else "$HOME/.local/share/app-groups" (with
// HOME unset, the account's home from the user database). Made when missing.
FolderChoice chooseAppGroupContainerRoot();

// The temporary directory's parent: the override, else $TMPDIR (an empty
// TMPDIR counts as unset), else $XDG_CACHE_HOME, else "$HOME/.cache". The
// cache folder is on disk (where /tmp is often a tmpfs, in memory) and
// usually on the same filesystem as the containers, so the hand-over can
// link instead of copying; it is made when missing, as XDG programs do. The
// override and TMPDIR are never made.
FolderChoice chooseTemporaryDirectoryParent();

// The chosen container root, or empty when the environment names none.
std::string appGroupContainerRoot();

// Overrides (for the host's command line); empty restores the environment's choice.
void setAppGroupContainerRoot(std::string_view root);
void setTemporaryDirectoryParent(std::string_view parent);

}  // namespace platform
