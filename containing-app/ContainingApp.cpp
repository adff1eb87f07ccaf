#include "ContainingApp.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cmath>
#include <ostream>

#include "EventLine.h"
#include "RecordingArchive.h"
#include "StopSignals.h"
#include "platform/files/NSFileManager.h"
#include "platform/media/wave/WaveFileReader.h"
#include "platform/notify/NotifyObserver.h"
#include "toolkit/SharedNames.h"

namespace containing_app {

namespace {

using Clock = std::chrono::steady_clock;

Event handle(const platform::Notification& notification, const std::string& recordingPath,
             const std::optional<RecordingArchive>& archive) {
    Event event;
    event.time = std::chrono::system_clock::now();
    event.notification = notification;
    event.kind = notification.name == shared::kEndSignal ? "end" : "start";
    if (event.kind == "end") {
        // The copy is taken through the descriptor that was inspected, so a
        // file swapped in at the path meanwhile is never the one kept.
        const media::wave::WaveFileReader recording(recordingPath);
        event.recording = toolkit::recordingFromFile(recording, recordingPath);
        if (archive && event.recording->status == RecordingReport::Status::Complete)
            event.keep = archive->keep(recording.fd(), std::chrono::system_clock::to_time_t(event.time));
    }
    return event;
}

int pollTimeoutMs(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

}  // namespace

int runContainingApp(const AppOptions& options, std::ostream& out, std::ostream& err) {
    const platform::FolderChoice root = platform::chooseAppGroupContainerRoot();
    if (!options.containerRoot && !root.problem.empty()) {
        err << "containing-app: error: " << root.problem << " (give --container-root, or fix or unset it)\n";
        return kExitUsage;
    }
    StopSignals stop;
    std::optional<platform::NotifyObserver> observer;
    try {
        observer.emplace(std::vector<std::string>{std::string(shared::kStartSignal), std::string(shared::kEndSignal)});
    } catch (const platform::NotifyBusError& error) {
        err << "containing-app: error: cannot receive the extension's signals: " << error.what() << "\n";
        return kExitNoSessionBus;
    }
    const std::string recordingPath = shared::sharedRecordingPath(
        options.containerRoot ? *options.containerRoot : root.path);
    std::optional<RecordingArchive> archive;
    if (options.keepDirectory) archive.emplace(*options.keepDirectory);
    err << "containing-app: waiting for " << shared::kStartSignal << " and " << shared::kEndSignal << "; recording at "
        << recordingPath << std::endl;

    // The idle timeout restarts with every signal; without one we wait forever.
    const bool hasIdleTimeout = options.idleTimeoutSeconds.has_value();
    const auto idle = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.idleTimeoutSeconds.value_or(0)));
    Clock::time_point deadline = hasIdleTimeout ? Clock::now() + idle : Clock::time_point::max();
    unsigned endSignals = 0;
    bool keepFailed = false;
    auto finished = [&] { return keepFailed ? kExitKeepFailed : kExitOk; };

    try {
        for (;;) {
            for (const auto& notification : observer->takeNotifications()) {
                const Event event = handle(notification, recordingPath, archive);
                out << (options.json ? jsonLine(event) : textLine(event)) << std::endl;
                if (event.keep && !event.keep->kept) keepFailed = true;
                if (hasIdleTimeout) deadline = Clock::now() + idle;
                if (event.kind == "end" && options.endSignalCount && ++endSignals >= *options.endSignalCount)
                    return finished();
            }
            pollfd fds[2] = {{observer->fd(), observer->pollEvents(), 0}, {stop.fd(), POLLIN, 0}};
            const int ready = ::poll(fds, stop.fd() >= 0 ? 2 : 1, pollTimeoutMs(deadline));
            if (ready < 0 && errno != EINTR) {
                err << "containing-app: error: poll failed: " << std::strerror(errno) << "\n";
                return kExitFailure;
            }
            if (ready == 0 && hasIdleTimeout && Clock::now() >= deadline) {
                err << "containing-app: error: no signal within " << *options.idleTimeoutSeconds << " s\n";
                return kExitIdleTimeout;
            }
            if (stop.fd() >= 0 && (fds[1].revents & POLLIN) != 0) {
                signalfd_siginfo info{};
                (void)!::read(stop.fd(), &info, sizeof info);
                // Signals already received are still printed before leaving.
                for (const auto& notification : observer->takeNotifications()) {
                    const Event event = handle(notification, recordingPath, archive);
                    out << (options.json ? jsonLine(event) : textLine(event)) << std::endl;
                    if (event.keep && !event.keep->kept) keepFailed = true;
                }
                return finished();
            }
        }
    } catch (const platform::NotifyBusError& error) {
        err << "containing-app: error: " << error.what() << "\n";
        return kExitFailure;
    }
}

}  // namespace containing_app
