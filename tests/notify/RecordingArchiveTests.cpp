// Copies kept with --keep: exact bytes, names that never collide, and no
// partial file or followed link.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "RecordingArchive.h"
#include "TestSupport.h"

namespace {

using containing_app::RecordingArchive;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Archive : public testing::Test {
protected:
    notifytest::TempDir dir;
    std::string source = dir.path() + "/source.wav";
    std::string keepDir = dir.path() + "/kept/nested";
    std::time_t when = 1700000000;  // a fixed moment, so names are known

    void SetUp() override {
        std::ofstream out(source, std::ios::binary);
        for (int i = 0; i < 200000; ++i) out.put(static_cast<char>(i * 7));
    }
    int openSource() const { return ::open(source.c_str(), O_RDONLY | O_CLOEXEC); }
};

TEST_F(Archive, CopiesTheWholeFileUnderATimestampName) {
    RecordingArchive archive(keepDir);
    const int fd = openSource();
    ::lseek(fd, 1000, SEEK_SET);  // the copy starts at the beginning regardless
    const auto kept = archive.keep(fd, when);
    ::close(fd);
    ASSERT_TRUE(kept.kept) << kept.error;
    EXPECT_EQ(kept.path, keepDir + "/" + containing_app::recordingBaseName(when) + ".wav");
    EXPECT_EQ(readAll(kept.path), readAll(source));
}

TEST_F(Archive, LaterCopiesInTheSameSecondGetNumberedNames) {
    RecordingArchive archive(keepDir);
    const std::string base = keepDir + "/" + containing_app::recordingBaseName(when);
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        const int fd = openSource();
        paths.push_back(archive.keep(fd, when).path);
        ::close(fd);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{base + ".wav", base + "-1.wav", base + "-2.wav"}));
    EXPECT_EQ(readAll(paths[2]), readAll(source));
}

TEST_F(Archive, NeverWritesThroughALinkAtTheChosenName) {
    RecordingArchive archive(keepDir);
    const std::string victim = dir.path() + "/victim";
    std::ofstream(victim) << "untouched";
    const std::string base = keepDir + "/" + containing_app::recordingBaseName(when);
    ASSERT_EQ(::symlink(victim.c_str(), (base + ".wav").c_str()), 0);
    const int fd = openSource();
    const auto kept = archive.keep(fd, when);
    ::close(fd);
    EXPECT_EQ(kept.path, base + "-1.wav");
    EXPECT_EQ(readAll(victim), "untouched");
}

TEST_F(Archive, ReportsADirectoryItCannotUseAndAnUnreadableSource) {
    const std::string blocker = dir.path() + "/file";
    std::ofstream(blocker) << "x";
    RecordingArchive blocked(blocker + "/sub");
    const int fd = openSource();
    const auto result = blocked.keep(fd, when);
    ::close(fd);
    EXPECT_FALSE(result.kept);
    EXPECT_FALSE(result.error.empty());

    RecordingArchive archive(keepDir);
    const int writeOnly = ::open(source.c_str(), O_WRONLY | O_CLOEXEC);
    const auto failed = archive.keep(writeOnly, when);
    ::close(writeOnly);
    EXPECT_FALSE(failed.kept);
    EXPECT_TRUE(std::filesystem::is_empty(keepDir)) << "the partial copy must be removed";
}

}  // namespace
