#pragma once
// The system-wide transport: carries posts to observers in other processes.

#include <memory>

#include "Notification.h"

namespace platform {

class NotifyTransport {
public:
    virtual ~NotifyTransport() = default;
    virtual void post(const Notification& notification) = 0;
};

// Installs the transport; none keeps posts in this process. Returns the
// previous one.
std::unique_ptr<NotifyTransport> setNotifyTransport(std::unique_ptr<NotifyTransport> transport);

// Hands the post to the installed transport, one post at a time; a
// transport that throws is reported once (see NotifyDiagnostics.h).
void deliverToOtherProcesses(const Notification& notification);

}  // namespace platform
