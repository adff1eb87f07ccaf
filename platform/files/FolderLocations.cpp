#include "FolderLocations.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "../foundation/NSURL.h"

namespace platform {
namespace {

struct Overrides {
    std::mutex mutex;
    std::string containerRoot;
    std::string temporaryParent;
};

Overrides& overrides() {
    static Overrides o;
    return o;
}

std::string overrideOf(std::string Overrides::*which) {
    std::lock_guard lock(overrides().mutex);
    return overrides().*which;
}

// The folder the variable `name` names below it (`below` may be empty):
// none when it is unset; a problem when it is empty or relative.
std::optional<FolderChoice> fromVariable(const char* name, std::string_view below, std::string from) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    FolderChoice choice;
    choice.from = std::move(from);
    if (*value == '\0')
        choice.problem = std::string(name) + " is set but empty";
    else if (*value != '/')
        choice.problem = std::string(name) + " \"" + value + "\" is not an absolute path";
    else
        choice.path = stringByAppendingPathComponent(value, below);
    return choice;
}

// "$HOME/<below>"; with HOME unset, below the account's home in the user database.
FolderChoice underHome(std::string_view below, const std::string& what) {
    if (auto choice = fromVariable("HOME", below, what + " under HOME")) return *choice;
    FolderChoice choice;
    choice.from = what + " under the account's home";
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/')
        choice.path = stringByAppendingPathComponent(pw->pw_dir, below);
    else
        choice.problem = "HOME is unset and the user database gives this account no home directory";
    return choice;
}

}  // namespace

FolderChoice chooseAppGroupContainerRoot() {
    FolderChoice choice;
    if (std::string root = overrideOf(&Overrides::containerRoot); !root.empty())
        choice = {std::move(root), "the container root", true, {}};
    else if (auto fromRoot = fromVariable("APP_GROUP_CONTAINER_ROOT", "", "APP_GROUP_CONTAINER_ROOT"))
        choice = *fromRoot;
    else if (auto fromData = fromVariable("XDG_DATA_HOME", "app-groups", "the container root under XDG_DATA_HOME"))
        choice = *fromData;
    else
        choice = underHome(".local/share/app-groups", "the container root");
    choice.createWhenMissing = true;
    return choice;
}

FolderChoice chooseTemporaryDirectoryParent() {
    if (std::string parent = overrideOf(&Overrides::temporaryParent); !parent.empty())
        return {std::move(parent), "the temporary directory's parent", false, {}};
    if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir != '\0')
        return *fromVariable("TMPDIR", "", "TMPDIR");
    FolderChoice choice;
    if (auto fromCache = fromVariable("XDG_CACHE_HOME", "", "XDG_CACHE_HOME"))
        choice = *fromCache;
    else
        choice = underHome(".cache", "the cache folder");
    choice.createWhenMissing = true;
    return choice;
}

std::string appGroupContainerRoot() { return chooseAppGroupContainerRoot().path; }

void setAppGroupContainerRoot(std::string_view root) {
    std::lock_guard lock(overrides().mutex);
    overrides().containerRoot = root;
}

void setTemporaryDirectoryParent(std::string_view parent) {
    std::lock_guard lock(overrides().mutex);
    overrides().temporaryParent = parent;
}

}  // namespace platform
