#include "HostFolders.h"

#include <filesystem>

#include "HostError.h"
#include "platform/files/FolderLocations.h"

namespace host {
namespace {

// `path` as an absolute path to a directory; with `create`, made (0700) when
// missing. Anything else is refused, naming `what`.
std::string absoluteDirectory(const std::string& path, bool create, const std::string& what) {
    const auto unusable = [&](const std::string& why) {
        return HostError(ExitCode::ContainerUnusable, what + " \"" + path + "\" " + why);
    };
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) throw unusable("cannot be used: " + error.message());
    if (!std::filesystem::exists(absolute, error)) {
        if (!create) throw unusable("does not exist");
        std::filesystem::create_directories(absolute, error);
        if (!error)
            std::filesystem::permissions(absolute, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
        if (error) throw unusable("cannot be created: " + error.message());
    }
    if (!std::filesystem::is_directory(absolute, error)) throw unusable("is not a directory");
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

// The folder an option names (an empty one is refused), else the one the
// environment names, checked.
std::string chosen(const std::optional<std::string>& option, const char* optionName,
                   const platform::FolderChoice& fromEnvironment, bool createGiven) {
    if (option) {
        if (option->empty()) throw HostError(ExitCode::ContainerUnusable, std::string(optionName) + " is empty");
        return absoluteDirectory(*option, createGiven, optionName);
    }
    if (!fromEnvironment.problem.empty())
        throw HostError(ExitCode::ContainerUnusable, fromEnvironment.problem + " (give " + optionName +
                                                         " DIR, or set the variable to an absolute path or unset it)");
    return absoluteDirectory(fromEnvironment.path, fromEnvironment.createWhenMissing, fromEnvironment.from);
}

}  // namespace

ChosenFolders chooseFolders(const std::optional<std::string>& containerRootOption,
                            const std::optional<std::string>& tempDirOption) {
    // Both from the environment, not from what an earlier run in this process set.
    platform::setAppGroupContainerRoot("");
    platform::setTemporaryDirectoryParent("");
    ChosenFolders folders;
    folders.containerRoot =
        chosen(containerRootOption, "--container-root", platform::chooseAppGroupContainerRoot(), true);
    folders.temporaryParent = chosen(tempDirOption, "--temp-dir", platform::chooseTemporaryDirectoryParent(), false);
    platform::setAppGroupContainerRoot(folders.containerRoot);
    platform::setTemporaryDirectoryParent(folders.temporaryParent);
    return folders;
}

}  // namespace host
