// The WAVE file reader: samples across read blocks, a file cut short, and
// paths that are not regular files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace {

using namespace testing_support;
using media::wave::WaveStatus;

TEST(WaveFileReader, ReadsWholeFramesAcrossBlocksAndOnlyThoseInAFileCutShort) {
    TempDirectory dir;
    std::vector<int32_t> samples{INT32_MIN, INT32_MAX & ~0xFF};
    for (uint32_t i = 2; i < 3001 * 3; ++i) samples.push_back(static_cast<int32_t>((i * 0x9E3779B1u) & ~0xFFu));
    ASSERT_TRUE(writeWave(dir / "r.wav", {48000, 3, 24}, samples));
    const WaveReadBack whole = readWave(dir / "r.wav");
    EXPECT_EQ(whole.samples, samples);

    ::truncate((dir / "r.wav").c_str(), static_cast<off_t>(whole.description.dataOffset + 3000 * 9 - 1));
    const WaveReadBack cut = readWave(dir / "r.wav");
    EXPECT_EQ(cut.status, WaveStatus::Incomplete);
    EXPECT_EQ(cut.frames(), 3001u);
    EXPECT_EQ(cut.samples, std::vector<int32_t>(samples.begin(), samples.end() - 2 * 3));
}

TEST(WaveFileReader, OpensOnlyARegularFileAndNeverFollowsALink) {
    TempDirectory dir;
    ASSERT_TRUE(writeWave(dir / "real.wav", {48000, 2, 16}, std::vector<int32_t>(20)));
    ASSERT_EQ(::symlink((dir / "real.wav").c_str(), (dir / "link.wav").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);  // must not block waiting for a writer
    const std::tuple<const char*, WaveStatus, const char*> cases[] = {
        {"absent.wav", WaveStatus::Missing, ""},
        {"link.wav", WaveStatus::Unreadable, "symbolic link"},
        {"fifo.wav", WaveStatus::Unreadable, "not a regular file"},
        {"", WaveStatus::Unreadable, "not a regular file"},  // the directory
        {"real.wav", WaveStatus::Complete, ""},
    };
    for (const auto& [name, status, problem] : cases) {
        media::wave::WaveFileReader file(dir / name);
        EXPECT_EQ(file.status(), status) << name;
        EXPECT_NE(file.problem().find(problem), std::string::npos) << file.problem();
        EXPECT_EQ(file.fd() == -1, status != WaveStatus::Complete) << name;
    }
}

}  // namespace
