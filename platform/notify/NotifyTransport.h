#pragma once
// The system-wide transport: carries posts to observers in other processes.

#include <memory>
#include <string>
#include <vector>

#include "Notification.h"

namespace platform {

// Posts a transport held but could not hand to other processes by the time
// it finished.
struct UndeliveredPosts {
    std::vector<std::string> names;  // in the order they were posted
    std::string reason;              // why, in words; empty when `names` is
};

class NotifyTransport {
public:
    virtual ~NotifyTransport() = default;
    virtual void post(const Notification& notification) = 0;
    // Gives what the transport still holds a last, bounded chance to leave,
    // then lets go of its connection; says what did not leave.
    virtual UndeliveredPosts finish() { return {}; }
};

// Installs the transport; none keeps posts in this process. Returns the
// previous one.
std::unique_ptr<NotifyTransport> setNotifyTransport(std::unique_ptr<NotifyTransport> transport);

// Takes the installed transport out (later posts stay in this process) and
// finishes it; see NotifyTransport::finish.
UndeliveredPosts finishNotifyTransport();

// Hands the post to the installed transport, one post at a time; a
// transport that throws is reported once (see NotifyDiagnostics.h).
void deliverToOtherProcesses(const Notification& notification);

}  // namespace platform
