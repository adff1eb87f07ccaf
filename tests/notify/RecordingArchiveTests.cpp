// Copies kept with --keep: exact bytes, private, names that never collide,
// and no partial file or followed link.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "RecordingArchive.h"
#include "tests/support/TempDirectory.h"

namespace {

using containing_app::RecordingArchive;
namespace fs = std::filesystem;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Archive : public testing::Test {
protected:
    testing_support::TempDirectory dir;
    std::string source = dir / "source.wav", keepDir = dir / "kept/nested";

    void SetUp() override {
        std::ofstream out(source, std::ios::binary);
        for (int i = 0; i < 200000; ++i) out.put(static_cast<char>(i * 7));
    }
    // A fixed moment, so names are known; copied from the start whatever the
    // offset.
    containing_app::KeepResult keep(const RecordingArchive& archive, int flags = O_RDONLY) const {
        const int fd = ::open(source.c_str(), flags | O_CLOEXEC);
        ::lseek(fd, 1000, SEEK_SET);
        auto result = archive.keep(fd, 1700000000);
        ::close(fd);
        return result;
    }
};

TEST_F(Archive, WholePrivateCopiesUnderNewNamesNeverThroughALink) {
    RecordingArchive archive(keepDir);
    const std::string base = keepDir + "/" + containing_app::recordingBaseName(1700000000);
    const auto first = keep(archive);
    ASSERT_TRUE(first.kept) << first.error;
    std::ofstream(dir / "victim") << "untouched";
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (base + "-1.wav").c_str()), 0);
    const auto second = keep(archive);
    EXPECT_EQ(std::vector({first.path, second.path}), std::vector({base + ".wav", base + "-2.wav"}));
    EXPECT_EQ(contents(dir / "victim"), "untouched");
    for (const auto& kept : {first, second}) {
        EXPECT_EQ(contents(kept.path), contents(source)) << kept.path;
        EXPECT_EQ(fs::status(kept.path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST_F(Archive, ReportsADirectoryItCannotUseAndAnUnreadableSource) {
    std::ofstream(dir / "file") << "x";
    const auto blocked = keep(RecordingArchive(dir / "file/sub"));
    EXPECT_FALSE(blocked.kept || blocked.error.empty());
    EXPECT_FALSE(keep(RecordingArchive(keepDir), O_WRONLY).kept);
    EXPECT_TRUE(fs::is_empty(keepDir)) << "the partial copy must be removed";
}

}  // namespace
