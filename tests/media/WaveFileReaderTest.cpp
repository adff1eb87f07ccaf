// The WAVE file reader: samples across read blocks, a file cut short, and
// paths that are not regular files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDirectory.h"
#include "tests/support/WaveFiles.h"

namespace {

using media::wave::WaveFileReader;
using media::wave::WaveStatus;

TEST(WaveFileReader, ReadsWholeFramesAcrossBlocksAndOnlyThoseInAFileCutShort) {
    testing_support::TempDirectory dir;
    const media::WaveFormat format{48000, 3, 24};
    std::vector<int32_t> samples{INT32_MIN, INT32_MAX & ~0xFF};
    for (uint32_t i = 2; i < 3001 * 3; ++i) samples.push_back(static_cast<int32_t>((i * 0x9E3779B1u) & ~0xFFu));
    ASSERT_TRUE(testing_support::writeWave(dir / "r.wav", format, samples));
    const auto whole = testing_support::readWave(dir / "r.wav");
    ASSERT_EQ(whole.status, WaveStatus::Complete) << whole.problem;
    EXPECT_EQ(whole.samples, samples);

    ::truncate((dir / "r.wav").c_str(), static_cast<off_t>(whole.description.dataOffset + 3000 * 9 - 1));
    const auto cut = testing_support::readWave(dir / "r.wav");
    EXPECT_EQ(cut.status, WaveStatus::Incomplete);
    EXPECT_EQ(cut.frames(), 3001u);
    EXPECT_EQ(cut.samples, std::vector<int32_t>(samples.begin(), samples.end() - 2 * 3));
}

TEST(WaveFileReader, OpensOnlyARegularFileAndNeverFollowsALink) {
    testing_support::TempDirectory dir;
    ASSERT_TRUE(testing_support::writeWave(dir / "real.wav", {48000, 2, 16}, std::vector<int32_t>(20)));
    ASSERT_EQ(::symlink((dir / "real.wav").c_str(), (dir / "link.wav").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);  // must not block waiting for a writer
    const std::vector<std::tuple<const char*, WaveStatus, const char*>> cases = {
        {"absent.wav", WaveStatus::Missing, ""},
        {"link.wav", WaveStatus::Unreadable, "symbolic link"},
        {"fifo.wav", WaveStatus::Unreadable, "not a regular file"},
        {"", WaveStatus::Unreadable, "not a regular file"},  // the directory
    };
    for (const auto& [name, status, problem] : cases) {
        WaveFileReader file(dir / name);
        EXPECT_EQ(file.status(), status) << name;
        EXPECT_NE(file.problem().find(problem), std::string::npos) << file.problem();
        EXPECT_EQ(file.fd(), -1);
    }
    EXPECT_EQ(WaveFileReader(dir / "real.wav").status(), WaveStatus::Complete);
}

}  // namespace
