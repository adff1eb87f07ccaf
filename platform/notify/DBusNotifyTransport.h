#pragma once
// The system-wide transport of the notify center: each post becomes one
// signal on the D-Bus session bus (see NotifyBusNames.h).

#include <chrono>
#include <memory>
#include <mutex>

#include "CFNotificationCenter.h"
#include "SdBus.h"

namespace platform {

class DBusNotifyTransport final : public NotifyTransport {
public:
    // The longest a post waits for the bus to take the signal. A post is
    // fire and forget: past this bound the signal stays queued on the
    // connection and is written by a later post or when the transport closes.
    static constexpr std::chrono::milliseconds kPostBound{100};

    explicit DBusNotifyTransport(SdBus bus);
    // Sends the post and waits at most kPostBound for the bus to take it.
    // Reconnects first when the daemon closed the connection. Problems are
    // reported once per process on standard error, never thrown.
    void post(const Notification& notification) override;

private:
    std::mutex mutex_;
    SdBus bus_;
};

// A transport connected to the session bus, or null (after one "notify: ..."
// line on standard error) when there is no session bus to connect to.
std::unique_ptr<NotifyTransport> makeSessionBusTransport();

}  // namespace platform
