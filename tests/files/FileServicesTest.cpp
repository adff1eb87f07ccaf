// File services: private directories, app-group containers, removal and the
// copy that never leaves a partial destination.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/files/CopyIntoPlace.h"
#include "platform/files/NSFileManager.h"
#include "platform/files/PrivateDirectory.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDirectory;

void writeFile(const std::string& path, const std::string& contents) { std::ofstream(path) << contents; }
std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PrivateDirectory, IsCreatedForTheUserAloneWithItsParentsOnlyWhenAsked) {
    TempDirectory temp;
    EXPECT_EQ(platform::files::makeDirectory(temp / "a/b/c", false), ENOENT);
    ASSERT_EQ(platform::files::makeDirectory(temp / "a/b/c", true), 0);
    struct stat st{};
    ASSERT_EQ(::stat((temp / "a/b/c").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST(PrivateDirectory, RefusesLinksFilesAndDirectoriesOthersControl) {
    TempDirectory temp;
    fs::create_directory(temp / "real");
    fs::create_directory_symlink(temp / "real", temp / "link");
    writeFile(temp / "file", "x");
    fs::create_directory(temp / "shared");
    ::chmod((temp / "shared").c_str(), 0777);
    fs::create_directory(temp / "theirs");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((temp / "theirs").c_str(), 65534, 65534), 0);
    }
    const std::pair<const char*, int> cases[] = {
        {"real", 0}, {"link", ELOOP}, {"file", ENOTDIR}, {"shared", EPERM}, {"theirs", root ? EPERM : 0}};
    for (const auto& [name, expected] : cases) {
        const int fd = platform::files::openPrivateDirectory(temp / name);
        EXPECT_EQ(fd < 0 ? errno : 0, expected) << name;
        if (fd >= 0) ::close(fd);
    }
}

class FileManager : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setAppGroupContainerRoot(temp / "containers");
        platform::setTemporaryDirectoryParent(temp.path());
        platform::setEntitledApplicationGroups({"group.tolvix"});
    }
    void TearDown() override {
        platform::setAppGroupContainerRoot("");
        platform::setTemporaryDirectoryParent("");
        platform::setEntitledApplicationGroups({});
    }
    NSFileManager& files = NSFileManager::defaultManager();
    TempDirectory temp;
};

TEST_F(FileManager, TemporaryDirectoryIsPrivateAndUnderTheChosenParent) {
    const std::string dir = NSTemporaryDirectory();
    EXPECT_EQ(dir, temp / ("broadcast-extension-" + std::to_string(::geteuid())));
    struct stat st{};
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(FileManager, ContainersExistOnlyForEntitledGroups) {
    const auto url = files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->path(), temp / "containers/group.tolvix");
    EXPECT_TRUE(fs::is_directory(url->path()));
    for (const char* group : {"group.other", "", "..", "group.tolvix/../x", "/etc"})
        EXPECT_FALSE(files.containerURLForSecurityApplicationGroupIdentifier(group)) << group;
}

TEST_F(FileManager, ContainerWhoseRootIsUnsafeOrCannotBeMadeGivesNoDestination) {
    fs::create_directory(temp / "elsewhere");
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> roots = {
        {"a file", [](const std::string& root) { writeFile(root, "a file where the root should be"); }},
        {"a link", [&](const std::string& root) { fs::create_directory_symlink(temp / "elsewhere", root); }},
        {"open to others", [](const std::string& root) { fs::create_directory(root), ::chmod(root.c_str(), 0777); }},
        {"another user's", [](const std::string& root) {
             fs::create_directory(root);
             if (::chown(root.c_str(), 65534, 65534) != 0) ::chmod(root.c_str(), 0770);  // not root: unsafe anyway
         }},
    };
    for (const auto& [what, make] : roots) {
        const std::string root = temp / ("root-" + std::string(what));
        make(root);
        platform::setAppGroupContainerRoot(root);
        EXPECT_FALSE(files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix")) << what;
    }
    EXPECT_TRUE(fs::is_empty(temp / "elsewhere"));

    NSErrorPtr error;
    EXPECT_FALSE(files.copyItemAtURL(NSURL(temp / "containers"), std::nullopt, &error));
    ASSERT_TRUE(error);
    EXPECT_NE(error->localizedDescription().find("container"), std::string::npos);
    EXPECT_FALSE(files.removeItemAtURL(std::nullopt, nullptr));
}

TEST_F(FileManager, CopyPlacesTheWholeFileAndNothingElse) {
    const auto container = files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix");
    const std::string payload(3 * 1024 * 1024 + 17, 'r');
    writeFile(temp / "source.wav", payload);
    NSErrorPtr error;
    ASSERT_TRUE(files.copyItemAtURL(NSURL(temp / "source.wav"), container->URLByAppendingPathComponent("out.wav"),
                                    &error));
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(readFile(container->path() + "/out.wav"), payload);
    EXPECT_EQ(entries(container->path()), std::vector<std::string>{"out.wav"});
}

TEST_F(FileManager, CopyOntoAnExistingFileOrLinkFailsAndLeavesBothAlone) {
    const auto container = files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix");
    const std::string destination = container->path() + "/out.wav";
    writeFile(temp / "source.wav", "new");
    writeFile(temp / "target", "old");
    const std::vector<std::function<void()>> plant = {
        [&] { writeFile(destination, "old"); },
        [&] { fs::create_symlink(temp / "target", destination); },
        [&] { fs::create_symlink(temp / "dangling", destination); },
    };
    for (size_t i = 0; i < plant.size(); ++i) {
        fs::remove(destination);
        plant[i]();
        NSErrorPtr error;
        EXPECT_FALSE(files.copyItemAtURL(NSURL(temp / "source.wav"), NSURL(destination), &error)) << i;
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), NSFileWriteFileExistsError) << i;
        EXPECT_EQ(entries(container->path()), std::vector<std::string>{"out.wav"}) << i;
    }
    EXPECT_EQ(readFile(temp / "target"), "old");
    EXPECT_FALSE(fs::exists(temp / "dangling"));
}

TEST_F(FileManager, FailedCopiesLeaveNoPartialFile) {
    const auto container = files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix");
    const auto destination = container->URLByAppendingPathComponent("out.wav");
    NSErrorPtr error;
    EXPECT_FALSE(files.copyItemAtURL(NSURL(temp / "missing.wav"), destination, &error));
    ASSERT_TRUE(error);
    EXPECT_NE(error->description().find("missing.wav"), std::string::npos);
    EXPECT_NE(error->description().find("No such file"), std::string::npos);

    // A source that is a link, or not a regular file, is refused.
    writeFile(temp / "real.wav", "x");
    fs::create_symlink(temp / "real.wav", temp / "link.wav");
    EXPECT_FALSE(files.copyItemAtURL(NSURL(temp / "link.wav"), destination, nullptr));
    EXPECT_FALSE(files.copyItemAtURL(NSURL(temp.path()), destination, nullptr));
    EXPECT_TRUE(entries(container->path()).empty());
}

// A copy stopped by a file-size limit: failing with the reason (SIGXFSZ
// ignored) or killed midway (SIGXFSZ's default action). Either way nothing is
// left in the container, and the next copy succeeds.
TEST_F(FileManager, CopyThatRunsOutOfSpaceOrIsKilledLeavesNothingBehind) {
    const auto container = files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix");
    writeFile(temp / "big.wav", std::string(4 * 1024 * 1024, 'b'));
    for (const auto action : {SIG_IGN, SIG_DFL}) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, action);
            const rlimit limit{1024 * 1024, 1024 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            NSErrorPtr error;
            const bool copied = files.copyItemAtURL(NSURL(temp / "big.wav"),
                                                    container->URLByAppendingPathComponent("out.wav"), &error);
            ::_exit(!copied && error && error->code() == NSFileWriteOutOfSpaceError ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (action == SIG_IGN)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
        EXPECT_TRUE(entries(container->path()).empty());
    }
    EXPECT_TRUE(files.copyItemAtURL(NSURL(temp / "big.wav"), container->URLByAppendingPathComponent("out.wav"), nullptr));
}

// Where the filesystem has no unnamed files, the copy goes to a hidden name:
// one no live process uses, after removing those of processes that are gone.
TEST_F(FileManager, PartialCopyNamesAreUnusedAndStaleOnesAreRemoved) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    using platform::files::partialCopyName;
    const std::string dirPath = temp / "c";
    fs::create_directory(dirPath, temp.path());
    const std::vector<std::string> planted = {partialCopyName("out.wav", ::getpid(), 0),
                                              partialCopyName("out.wav", gone, 0), partialCopyName("other.wav", gone, 0)};
    for (const auto& name : planted) writeFile(dirPath + "/" + name, "stale");
    const platform::files::UniqueDescriptor dir(platform::files::openPrivateDirectory(dirPath));
    std::string partial;
    EXPECT_TRUE(platform::files::createPartialCopy(dir.get(), "out.wav", partial));
    EXPECT_EQ(partial, partialCopyName("out.wav", ::getpid(), 1));
    std::vector<std::string> expected = {planted[0], planted[2], partial};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(dirPath), expected);
}

TEST_F(FileManager, RemovalTakesALinkItselfNeverItsTarget) {
    writeFile(temp / "target", "keep");
    fs::create_symlink(temp / "target", temp / "link");
    EXPECT_TRUE(files.removeItemAtURL(NSURL(temp / "link"), nullptr));
    EXPECT_EQ(readFile(temp / "target"), "keep");
    NSErrorPtr error;
    EXPECT_FALSE(files.removeItemAtURL(NSURL(temp / "link"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSFileNoSuchFileError);
}

TEST(Foundation, PathsJoinWithOneSeparator) {
    EXPECT_EQ(stringByAppendingPathComponent("/tmp/", "tempfile.wav"), "/tmp/tempfile.wav");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp", "/tempfile.wav"), "/tmp/tempfile.wav");
    EXPECT_EQ(stringByAppendingPathComponent("/", "x"), "/x");
    EXPECT_EQ(NSURL("/a b/c.wav").absoluteString(), "file:///a%20b/c.wav");
    EXPECT_EQ(NSURL("/a/NewRecording.wav").lastPathComponent(), "NewRecording.wav");
}

TEST(Foundation, ErrorsDescribeThemselvesFully) {
    const auto error = NSError::errorWithPOSIXCode(ENOSPC, "copy", "/a", "/b");
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFileWriteOutOfSpaceError);
    EXPECT_EQ(error->localizedDescription(), "Could not copy \"/a\" to \"/b\": No space left on device.");
    EXPECT_EQ(error->description(),
              "Error Domain=NSCocoaErrorDomain Code=640 \"Could not copy \"/a\" to \"/b\": No space left on "
              "device.\" UserInfo={NSLocalizedDescription=Could not copy \"/a\" to \"/b\": No space left on "
              "device., NSFilePath=/a, NSDestinationFilePath=/b, NSUnderlyingError=Error "
              "Domain=NSPOSIXErrorDomain Code=28 \"No space left on device\"}");
}

}  // namespace
