#include "RecordingArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/files/FileCopy.h"
#include "platform/files/UniqueDescriptor.h"

namespace containing_app {

using platform::files::UniqueDescriptor;

namespace {

// Enough for many copies within one second; past that something is wrong.
constexpr int kMaxSuffix = 9999;

}  // namespace

std::string recordingBaseName(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "recording-%Y%m%d-%H%M%S", &local);
    return text;
}

RecordingArchive::RecordingArchive(std::string directory) : directory_(std::move(directory)) {
    std::error_code ignored;  // a failure shows when keeping the first copy
    std::filesystem::create_directories(directory_, ignored);
}

KeepResult RecordingArchive::keep(int sourceFd, std::time_t when) const {
    KeepResult result;
    const UniqueDescriptor dir(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        result.error = "cannot open " + directory_ + ": " + std::strerror(errno);
        return result;
    }
    const std::string base = recordingBaseName(when);
    for (int suffix = 0; suffix <= kMaxSuffix; ++suffix) {
        std::string name = base;
        if (suffix > 0) name.append("-").append(std::to_string(suffix));
        name.append(".wav");
        UniqueDescriptor target(
            ::openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!target) {
            if (errno == EEXIST) continue;
            result.error = "cannot create " + directory_ + "/" + name + ": " + std::strerror(errno);
            return result;
        }
        int error = platform::files::copyFileContents(sourceFd, target.get());
        if (error == 0 && ::fsync(target.get()) != 0) error = errno;
        if (error == 0 && ::close(target.release()) != 0) error = errno;
        if (error != 0) {
            ::unlinkat(dir.get(), name.c_str(), 0);
            result.error = "cannot copy to " + directory_ + "/" + name + ": " + std::strerror(error);
            return result;
        }
        result.kept = true;
        result.path = directory_ + "/" + name;
        return result;
    }
    result.error = "every name " + base + "[-N].wav in " + directory_ + " is taken";
    return result;
}

KeepResult RecordingArchive::keepIfNew(int sourceFd, std::time_t when) {
    struct stat status {};
    if (::fstat(sourceFd, &status) != 0)
        return {false, false, {}, std::string("cannot inspect the recording: ") + std::strerror(errno)};
    const Identity now{status.st_dev, status.st_ino, status.st_size, status.st_mtim};
    if (lastKept_ && lastKept_->device == now.device && lastKept_->inode == now.inode && lastKept_->size == now.size &&
        lastKept_->modified.tv_sec == now.modified.tv_sec && lastKept_->modified.tv_nsec == now.modified.tv_nsec)
        return {false, true, lastKeptPath_, {}};
    KeepResult result = keep(sourceFd, when);
    if (result.kept) {
        lastKept_ = now;
        lastKeptPath_ = result.path;
    }
    return result;
}

}  // namespace containing_app
