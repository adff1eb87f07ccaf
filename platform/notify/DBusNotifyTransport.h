#pragma once
// The system-wide transport of the notify center: each post becomes one
// signal on the D-Bus session bus (see NotifyBusNames.h).

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "NotifyTransport.h"
#include "SdBus.h"

namespace platform {

class DBusNotifyTransport final : public NotifyTransport {
public:
    // The longest a post waits for the bus to take the signal. A post is
    // fire and forget: past this bound the signal stays queued on the
    // connection and is written by a later post or when the transport closes.
    static constexpr std::chrono::milliseconds kPostBound{100};

    // Connects at the first post, not before, so a process that never posts
    // never touches the bus. With a `busName`, every connection asks to own
    // that well-known name, queued behind an owner that already has it, so
    // two processes of one program both post; the daemon drops the name
    // when the connection closes.
    explicit DBusNotifyTransport(std::string busName = {});
    // Sends the post and waits at most kPostBound for the bus to take it.
    // Connects first when there is no connection or the daemon closed it.
    // Problems are reported once per process as "notify: ..." lines (see
    // NotifyDiagnostics.h), never thrown.
    void post(const Notification& notification) override;

private:
    // Opens a new connection and asks for the bus name; false, after one
    // diagnostic line, when there is no session bus.
    bool connect();

    std::mutex mutex_;
    const std::string busName_;
    SdBus bus_;
    bool connectedBefore_ = false;
};

// A transport to the session bus that connects at its first post; see
// DBusNotifyTransport. Without a session bus, posts reach only observers in
// this process, and the first post says so in one "notify: ..." line.
std::unique_ptr<NotifyTransport> makeSessionBusTransport(std::string busName = {});

}  // namespace platform
