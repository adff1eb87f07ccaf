#include "TemporarySpaceWarning.h"

#include <cmath>
#include <cstdio>

#include "platform/files/FilesystemRoom.h"

namespace host {
namespace {

std::string formatted(const char* format, double a, double b, double c) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

std::optional<double> recordingBytesPerSecond(const Scenario& scenario) {
    for (const Step& step : scenario.steps) {
        const auto* stream = std::get_if<StreamStep>(&step);
        if (stream == nullptr || !stream->app) continue;
        const AudioStreamBasicDescription d = describeEncoding(stream->app->encoding);
        if (d.mBitsPerChannel == 0 || d.mBitsPerChannel > 32 || d.mBitsPerChannel % 8 != 0) return std::nullopt;
        return std::trunc(d.mSampleRate) * d.mChannelsPerFrame * (d.mBitsPerChannel / 8);
    }
    return std::nullopt;
}

std::string temporarySpaceWarning(const std::string& folder, double bytesPerSecond) {
    const platform::files::FilesystemRoom room = platform::files::filesystemRoomAt(folder);
    if (!room.known || !(bytesPerSecond > 0)) return {};
    const double freeBytes = static_cast<double>(room.freeBytes);
    const double minutes = std::floor(freeBytes / bytesPerSecond / 60);
    if (room.inMemory)
        return "the temporary directory under " + folder +
               formatted(
                   " is in memory (tmpfs): the recording grows in RAM, and the %.0f MB free hold about %.0f minutes "
                   "at %.0f kB a second (--temp-dir chooses another folder)",
                   freeBytes / 1e6, minutes, bytesPerSecond / 1e3);
    if (minutes >= 60) return {};
    return "the temporary directory under " + folder +
           formatted(
               " has room for about %.0f minutes of recording (%.0f MB free at %.0f kB a second); a longer one is "
               "cut short",
               minutes, freeBytes / 1e6, bytesPerSecond / 1e3);
}

}  // namespace host
