// File services: private directories, app-group containers, removal and the
// copy that never leaves a partial destination nor follows a link.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "platform/files/CopyIntoPlace.h"
#include "platform/files/NSFileManager.h"
#include "platform/files/PrivateDirectory.h"
#include "tests/support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;
using platform::files::UniqueDescriptor;

void writeFile(const std::string& path, const std::string& contents) { std::ofstream(path) << contents; }
std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

// Makes something at `path`; `dir` is the test's directory.
using Plant = std::function<void(const std::string& dir, const std::string& path)>;

class FileManager : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setAppGroupContainerRoot(temp / "a/b/containers");
        platform::setTemporaryDirectoryParent(temp.path());
        platform::setEntitledApplicationGroups({"group.tolvix"});
    }
    std::string container() { return files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix")->path(); }

    NSFileManager& files = NSFileManager::defaultManager();
    testing_support::TempDirectory temp;
};

// Only the temporary directory's last component is made, a container with its root, each for
// this user alone; containers only for entitled groups.
TEST_F(FileManager, DirectoriesAreMadeForTheUserAloneAndOnlyWhereTheyBelong) {
    EXPECT_EQ(NSTemporaryDirectory(), temp / ("broadcast-extension-" + std::to_string(::geteuid())));
    EXPECT_EQ(container(), temp / "a/b/containers/group.tolvix");
    for (const auto& dir : {NSTemporaryDirectory(), temp / "a/b/containers", container()})
        EXPECT_EQ(fs::symlink_status(dir).permissions(), fs::perms::owner_all) << dir;  // not a link's 0777
    for (const char* group : {"group.other", "", ".", "..", "group.tolvix/../x", "/etc"})
        EXPECT_FALSE(files.containerURLForSecurityApplicationGroupIdentifier(group)) << group;
    EXPECT_EQ(entries(temp / "a/b/containers"), std::set<std::string>{"group.tolvix"});
    platform::setTemporaryDirectoryParent(temp / "missing");
    EXPECT_FALSE(fs::exists(NSTemporaryDirectory()));
}

// Directories this user does not control alone: refused, and nothing is made at a link's target.
struct Unsafe {
    const char* name;
    Plant make;
    int error;
};

class UnsafeDirectory : public FileManager, public ::testing::WithParamInterface<Unsafe> {};

TEST_P(UnsafeDirectory, IsRefused) {
    const std::string path = temp / "unsafe";
    fs::create_directory(temp / "elsewhere");
    GetParam().make(temp.path(), path);
    errno = 0;
    EXPECT_EQ(platform::files::openPrivateDirectory(path), -1);
    EXPECT_EQ(errno, GetParam().error);
    platform::setAppGroupContainerRoot(path);
    EXPECT_FALSE(files.containerURLForSecurityApplicationGroupIdentifier("group.tolvix"));
    EXPECT_TRUE(fs::is_empty(temp / "elsewhere"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UnsafeDirectory,
    ::testing::Values(
        Unsafe{"ALink", [](auto& dir, auto& path) { fs::create_directory_symlink(dir + "/elsewhere", path); }, ELOOP},
        Unsafe{"AFile", [](auto&, auto& path) { writeFile(path, "x"); }, ENOTDIR},
        Unsafe{"OpenToOthers", [](auto&, auto& path) { fs::create_directory(path), ::chmod(path.c_str(), 0777); },
               EPERM},
        Unsafe{"AnotherUsers",
               [](auto&, auto& path) {
                   fs::create_directory(path);
                   if (::chown(path.c_str(), 65534, 65534) != 0)
                       ::chmod(path.c_str(), 0770);  // not root: open to the group
               },
               EPERM}),
    [](const auto& p) { return std::string(p.param.name); });

// Copies refused with the paths and the reason: nothing is followed, replaced or left behind.
struct Refused {
    const char* name;
    Plant plant;
    const char *source, *reason;
};

class RefusedCopy : public FileManager, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedCopy, LeavesEverythingAsItWas) {
    const std::string destination = container() + "/out.wav";
    writeFile(temp / "source.wav", "new");
    fs::create_symlink(temp / "source.wav", temp / "link.wav");
    GetParam().plant(temp.path(), destination);
    const auto before = entries(container());
    NSErrorPtr error;
    EXPECT_FALSE(files.copyItemAtURL(NSURL(temp / GetParam().source), NSURL(destination), &error));
    ASSERT_TRUE(error);
    EXPECT_NE(error->description().find(temp / GetParam().source), std::string::npos) << error->description();
    EXPECT_NE(error->description().find(GetParam().reason), std::string::npos) << error->description();
    EXPECT_EQ(entries(container()), before);
    EXPECT_FALSE(fs::exists(temp / "dangling"));
}

const auto nothing = [](const std::string&, const std::string&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedCopy,
    ::testing::Values(Refused{"OntoAFile", [](auto&, auto& to) { writeFile(to, "old"); }, "source.wav", "File exists"},
                      Refused{"OntoADanglingLink",
                              [](auto& dir, auto& to) { fs::create_symlink(dir + "/dangling", to); }, "source.wav",
                              "File exists"},
                      Refused{"FromNothing", nothing, "missing.wav", "No such file"},
                      Refused{"FromALink", nothing, "link.wav", "symbolic links"},
                      Refused{"FromADirectory", [](auto& dir, auto&) { fs::create_directory(dir + "/dir.wav"); },
                              "dir.wav", "Invalid argument"}),
    [](const auto& p) { return std::string(p.param.name); });

// A copy stopped by a file-size limit, failing (SIGXFSZ ignored) or killed midway: either way
// nothing is left in the container, and the next copy places the whole file. The same for the
// copy under a hidden name, where the filesystem has no unnamed files.
TEST_F(FileManager, CopyThatRunsOutOfSpaceOrIsKilledLeavesNothingBehind) {
    const std::string out = container() + "/out.wav";
    const std::string big(4 * 1024 * 1024 + 17, 'b');
    writeFile(temp / "big.wav", big);
    for (const auto action : {SIG_IGN, SIG_DFL}) {
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, action);
            const rlimit limit{1024 * 1024, 1024 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            NSErrorPtr error;
            const bool copied = files.copyItemAtURL(NSURL(temp / "big.wav"), NSURL(out), &error);
            // The copy for filesystems without unnamed files fails alike.
            const UniqueDescriptor in(::open((temp / "big.wav").c_str(), O_RDONLY)),
                dir(::open(container().c_str(), O_RDONLY | O_DIRECTORY));
            const int fallback = platform::files::copyUnderHiddenName(in.get(), dir.get(), "out.wav").error;
            ::_exit(!copied && error && error->code() == NSFileWriteOutOfSpaceError && fallback == EFBIG ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status), action == SIG_IGN ? 0 : SIGXFSZ);
        EXPECT_TRUE(entries(container()).empty());
    }
    EXPECT_TRUE(files.copyItemAtURL(NSURL(temp / "big.wav"), NSURL(out), nullptr));
    std::ifstream copied(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), big);
    EXPECT_EQ(entries(container()), std::set<std::string>{"out.wav"});
}

// The placement replaces what the name holds (the newest file wins), a link itself and never what
// it leads to. A private file of this user is linked (the same file, in constant time); another one,
// or one whose name is gone (removed by another process, the name reused), is copied from its
// descriptor. Either way the placed file is the source's content, mode 0600, and nothing hidden stays.
TEST_F(FileManager, PlacementReplacesTheNameWithTheSourcesOwnFile) {
    using platform::files::PlacementMethod;
    const std::string dirPath = container();
    writeFile(temp / "outside", "keep");
    const struct {
        const char* name;
        mode_t mode;
        bool nameReused;
        PlacementMethod method;
    } cases[] = {
        {"private", 0600, false, PlacementMethod::Link},
        {"readable by others", 0644, false, PlacementMethod::Copy},
        {"name reused", 0600, true, PlacementMethod::Copy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(temp / "source.wav", c.name);
        ::chmod((temp / "source.wav").c_str(), c.mode);
        const UniqueDescriptor in(::open((temp / "source.wav").c_str(), O_RDONLY));
        if (c.nameReused) fs::remove(temp / "source.wav"), writeFile(temp / "source.wav", "another's");
        fs::remove(dirPath + "/out.wav");
        fs::create_symlink(temp / "outside", dirPath + "/out.wav");
        const UniqueDescriptor dir(platform::files::openPrivateDirectory(dirPath));
        const platform::files::Placement placed = platform::files::placeFile(in.get(), dir.get(), "out.wav");
        ASSERT_EQ(placed.error, 0);
        EXPECT_TRUE(placed.method == c.method || placed.method == PlacementMethod::Clone);  // where blocks are shared
        EXPECT_EQ(fs::equivalent(temp / "source.wav", dirPath + "/out.wav"), placed.method == PlacementMethod::Link);
        std::ifstream read(dirPath + "/out.wav");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(read), {}), c.name);
        EXPECT_EQ(fs::symlink_status(dirPath + "/out.wav").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(entries(dirPath), std::set<std::string>{"out.wav"});
        std::ifstream outside(temp / "outside");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(outside), {}), "keep");
    }
}

// A reader of the name meanwhile meets the old file or the whole new one, never a part of one.
TEST_F(FileManager, AReaderOfTheNameNeverMeetsAPartOfTheFile) {
    const std::string out = container() + "/out.wav";
    constexpr off_t kSize = 32 << 20;
    writeFile(temp / "big.wav", std::string(kSize, 'b'));
    for (const bool linked : {false, true}) {  // readable by others: copied; private: linked
        fs::permissions(temp / "big.wav", linked ? fs::perms::owner_read | fs::perms::owner_write : fs::perms::all);
        writeFile(out, "old");
        std::atomic<bool> placed{false};
        std::set<off_t> sizes;  // -1: the name was missing
        std::thread reader([&] {
            for (struct stat st{}; !placed;) sizes.insert(::stat(out.c_str(), &st) == 0 ? st.st_size : -1);
        });
        const UniqueDescriptor in(::open((temp / "big.wav").c_str(), O_RDONLY)),
            dir(platform::files::openPrivateDirectory(container()));
        const platform::files::Placement placement = platform::files::placeFile(in.get(), dir.get(), "out.wav");
        placed = true;
        reader.join();
        EXPECT_EQ(placement.error, 0);
        const std::set<off_t> whole{3, kSize};
        EXPECT_TRUE(std::includes(whole.begin(), whole.end(), sizes.begin(), sizes.end()))
            << (linked ? "linked: " : "copied: ") << *sizes.begin();
    }
}

// Without unnamed files, the copy goes to a hidden name no live process uses, after removing
// those of processes that are gone.
TEST_F(FileManager, PartialCopyNamesAreUnusedAndStaleOnesAreRemoved) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    using platform::files::partialCopyName;
    const std::string dirPath = temp / "c";
    fs::create_directory(dirPath, temp.path());
    const std::string planted[] = {partialCopyName("out.wav", ::getpid(), 0), partialCopyName("out.wav", gone, 0),
                                   partialCopyName("other.wav", gone, 0)};
    for (const auto& name : planted) writeFile(dirPath + "/" + name, "stale");
    const platform::files::UniqueDescriptor dir(platform::files::openPrivateDirectory(dirPath));
    std::string partial;
    EXPECT_TRUE(platform::files::createPartialCopy(dir.get(), "out.wav", partial));
    EXPECT_EQ(partial, partialCopyName("out.wav", ::getpid(), 1));
    EXPECT_EQ(entries(dirPath), (std::set<std::string>{planted[0], planted[2], partial}));
}

}  // namespace
