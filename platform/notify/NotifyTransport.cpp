#include "NotifyTransport.h"

#include <exception>
#include <mutex>
#include <string>

#include "NotifyDiagnostics.h"

namespace platform {

namespace {

// Held for the whole of a post, so the transport is never replaced or
// destroyed while in use, and posts reach it one at a time.
std::mutex transportMutex;
std::unique_ptr<NotifyTransport>& installed() {
    // Never destroyed: a post may come during static destruction.
    static auto* transport = new std::unique_ptr<NotifyTransport>;
    return *transport;
}

}  // namespace

std::unique_ptr<NotifyTransport> setNotifyTransport(std::unique_ptr<NotifyTransport> transport) {
    std::lock_guard lock(transportMutex);
    std::swap(installed(), transport);
    return transport;
}

UndeliveredPosts finishNotifyTransport() {
    const std::unique_ptr<NotifyTransport> transport = setNotifyTransport(nullptr);
    return transport ? transport->finish() : UndeliveredPosts{};
}

void deliverToOtherProcesses(const Notification& notification) {
    std::lock_guard lock(transportMutex);
    if (!installed()) return;
    try {
        installed()->post(notification);
    } catch (const std::exception& error) {
        notify::reportOnce(notify::Problem::SendFailed,
                           std::string("posting to other processes failed: ") + error.what());
    }
}

}  // namespace platform
