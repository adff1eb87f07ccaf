#pragma once
// The system-wide transport of the notify center: each post becomes one
// signal on the D-Bus session bus (see NotifyBusNames.h).

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "NotifyTransport.h"
#include "SdBus.h"

namespace platform {

class DBusNotifyTransport final : public NotifyTransport {
public:
    // The longest a post waits for the bus to take the signal. A post is
    // fire and forget: past this bound the signal stays queued and is
    // written by a later post or by finish().
    static constexpr std::chrono::milliseconds kPostBound{100};
    // The longest finish() waits for what is still queued. Longer than a
    // post's own bound: a process that posts and ends finishes at once, and
    // a daemon that is only slow (a loaded machine) must still get the posts.
    static constexpr std::chrono::milliseconds kFinishBound{1000};

    // Connects at the first post, not before, so a process that never posts
    // never touches the bus. With a `busName`, every connection asks to own
    // that well-known name, queued behind an owner that already has it, so
    // two processes of one program both post; the daemon drops the name
    // when the connection closes.
    explicit DBusNotifyTransport(std::string busName = {});
    // Finishes (see finish()) if that was not done.
    ~DBusNotifyTransport() override;
    // Sends the post and waits at most kPostBound for the bus to take it.
    // Connects first when there is no connection or the daemon closed it.
    // Posts a connection had not written when it closed (the daemon
    // restarted, or sd-bus gave up on a daemon stuck for long) are sent again
    // on a new one, so none is lost. Problems are reported once per process
    // as "notify: ..." lines (see NotifyDiagnostics.h), never thrown.
    void post(const Notification& notification) override;
    // Waits at most kFinishBound for the posts still queued, then closes the
    // connection. Returns those the bus did not take: still queued (a stuck
    // daemon), or queued on a connection that was lost when no new one
    // could be made. Posts made while there was no session bus at all are
    // not among them: they were for this process only.
    UndeliveredPosts finish() override;

private:
    enum class Outcome { Taken, Queued, NoBus, Lost };
    struct Pending {
        Notification notification;
        bool queuedBefore = false;  // given to a connection at some time
    };

    // Opens a new connection and asks for the bus name; false, after one
    // diagnostic line, when there is no session bus.
    bool connect();
    // Sends the pending posts and writes them until `deadline`, on a new
    // connection when the current one is closed, once more when that fails.
    Outcome deliverPending(SdBus::Clock::time_point deadline);
    // Gives the connection the pending posts it does not have yet; false
    // when the connection closed meanwhile.
    bool sendPending();
    // Forgets the posts the connection has written.
    void dropWritten();
    UndeliveredPosts finishLocked();

    std::mutex mutex_;
    const std::string busName_;
    SdBus bus_;
    bool connectedBefore_ = false;
    // Posts not yet written to the bus, oldest first; the first `sent_` of
    // them have been given to the current connection.
    std::deque<Pending> pending_;
    size_t sent_ = 0;
    // Posts queued on a connection that was lost, with no bus to resend them to.
    std::vector<std::string> lost_;
};

// A transport to the session bus that connects at its first post; see
// DBusNotifyTransport. Without a session bus, posts reach only observers in
// this process, and the first post says so in one "notify: ..." line.
std::unique_ptr<NotifyTransport> makeSessionBusTransport(std::string busName = {});

}  // namespace platform
