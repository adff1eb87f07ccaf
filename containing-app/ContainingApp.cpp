#include "ContainingApp.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <ostream>

#include "EventLine.h"
#include "RecordingArchive.h"
#include "platform/files/NSFileManager.h"
#include "platform/media/wave/WaveFileReader.h"
#include "platform/notify/NotifyObserver.h"
#include "toolkit/SharedNames.h"
#include "toolkit/StopSignals.h"

namespace containing_app {

namespace {

using Clock = std::chrono::steady_clock;

// What one run keeps between signals, and where it writes.
class Listener {
public:
    Listener(const AppOptions& options, std::string recordingPath, std::ostream& out, std::ostream& err)
        : options_(options), recordingPath_(std::move(recordingPath)), out_(out), err_(err) {
        if (options.keepDirectory) archive_.emplace(*options.keepDirectory);
    }

    // Prints each signal received; false when standard output took a line
    // not (said on `err`), or when --count end signals have been handled.
    bool handleAll(platform::NotifyObserver& observer) {
        for (const auto& notification : observer.takeNotifications()) {
            const Event event = handle(notification);
            out_ << (options_.json ? jsonLine(event) : textLine(event)) << std::endl;
            if (!out_) {
                err_ << "containing-app: error: cannot write to standard output: " << std::strerror(errno) << "\n";
                outputFailed_ = true;
                return false;
            }
            ++events_;
            if (event.keep && !event.keep->kept && !event.keep->alreadyKept) keepFailed_ = true;
            if (event.kind == "end" && options_.endSignalCount && ++endSignals_ >= *options_.endSignalCount)
                return false;
        }
        return true;
    }

    size_t events() const { return events_; }
    int status() const { return outputFailed_ ? kExitOutputUnwritable : keepFailed_ ? kExitKeepFailed : kExitOk; }

private:
    Event handle(const platform::Notification& notification) {
        Event event;
        event.time = std::chrono::system_clock::now();
        event.notification = notification;
        event.kind = notification.name == shared::kEndSignal ? "end" : "start";
        if (event.kind != "end") return event;
        // The copy is taken through the descriptor that was inspected, so a
        // file swapped in at the path meanwhile is never the one kept.
        const media::wave::WaveFileReader recording(recordingPath_);
        event.recording = toolkit::recordingFromFile(recording, recordingPath_);
        if (archive_ && event.recording->status == RecordingReport::Status::Complete) {
            event.keep = archive_->keepIfNew(recording.fd(), std::chrono::system_clock::to_time_t(event.time));
            if (event.keep->alreadyKept && !skipExplained_) {
                err_ << "containing-app: an end signal found the recording kept as " << event.keep->path
                     << " unchanged; a recording is kept once, when it is new (said once)" << std::endl;
                skipExplained_ = true;
            }
        }
        return event;
    }

    const AppOptions& options_;
    const std::string recordingPath_;
    std::ostream& out_;
    std::ostream& err_;
    std::optional<RecordingArchive> archive_;
    size_t events_ = 0;
    unsigned endSignals_ = 0;
    bool keepFailed_ = false;
    bool outputFailed_ = false;
    bool skipExplained_ = false;
};

int pollTimeoutMs(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max()) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// Handles signals until --count, --timeout, a stop request or a failure.
int listen(const AppOptions& options, platform::NotifyObserver& observer, Listener& listener,
           const toolkit::StopToken& stop, std::ostream& err) {
    // The idle timeout restarts with every signal; without one we wait forever.
    const bool hasIdleTimeout = options.idleTimeoutSeconds.has_value();
    const auto idle = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.idleTimeoutSeconds.value_or(0)));
    Clock::time_point deadline = hasIdleTimeout ? Clock::now() + idle : Clock::time_point::max();
    for (;;) {
        const size_t before = listener.events();
        if (!listener.handleAll(observer)) return listener.status();
        if (hasIdleTimeout && listener.events() != before) deadline = Clock::now() + idle;
        pollfd fds[2] = {{observer.fd(), observer.pollEvents(), 0}, {stop.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, pollTimeoutMs(deadline));
        if (ready < 0 && errno != EINTR) {
            err << "containing-app: error: poll failed: " << std::strerror(errno) << "\n";
            return kExitFailure;
        }
        if (ready == 0 && hasIdleTimeout && Clock::now() >= deadline) {
            err << "containing-app: error: no signal within " << *options.idleTimeoutSeconds << " s\n";
            return kExitIdleTimeout;
        }
        if (stop.requested()) {
            listener.handleAll(observer);  // signals already received are still printed
            return listener.status();
        }
    }
}

}  // namespace

int runContainingApp(const AppOptions& options, std::ostream& out, std::ostream& err) {
    const toolkit::StopSignals stopSignals;
    std::optional<platform::NotifyObserver> observer;
    try {
        observer.emplace(std::vector<std::string>{std::string(shared::kStartSignal), std::string(shared::kEndSignal)});
    } catch (const platform::NotifyBusError& error) {
        err << "containing-app: error: " << error.what() << "\n";
        return kExitNoSessionBus;
    }
    const std::string recordingPath =
        shared::sharedRecordingPath(options.containerRoot ? *options.containerRoot : platform::appGroupContainerRoot());
    Listener listener(options, recordingPath, out, err);
    err << "containing-app: waiting for " << shared::kStartSignal << " and " << shared::kEndSignal << "; recording at "
        << recordingPath << std::endl;
    try {
        return listen(options, *observer, listener, stopSignals.token(), err);
    } catch (const platform::NotifyBusError& error) {
        err << "containing-app: error: " << error.what() << "\n";
        return kExitFailure;
    }
}

}  // namespace containing_app
