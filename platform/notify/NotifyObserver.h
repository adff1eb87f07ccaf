#pragma once
// Receives, in another process, the posts the notify center sends over the
// session bus. Registration is confirmed by the bus before the constructor
// returns, so no post made after that is missed; every post is kept, in the
// order the bus delivered them, until taken.

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Notification.h"

namespace platform {

// No session bus, or it did not answer in time, or the connection was lost.
class NotifyBusError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Use one observer from one thread at a time. A moved-from observer may only
// be destroyed or assigned to.
class NotifyObserver {
public:
    static constexpr std::chrono::milliseconds kDefaultRegistrationTimeout{5000};

    // Connects to the session bus and registers for each of `names`
    // (duplicates count once). Throws std::invalid_argument for an empty
    // name or one containing a quote, backslash or NUL, and NotifyBusError
    // when there is no bus or it does not confirm within `registrationTimeout`.
    explicit NotifyObserver(const std::vector<std::string>& names,
                            std::chrono::milliseconds registrationTimeout = kDefaultRegistrationTimeout);
    NotifyObserver(NotifyObserver&&) noexcept;
    NotifyObserver& operator=(NotifyObserver&&) noexcept;
    ~NotifyObserver();

    // The next post, waiting up to `timeout` for one; none when the time
    // passes first. Throws NotifyBusError when the connection is lost.
    std::optional<Notification> waitForNotification(std::chrono::milliseconds timeout);

    // For an event loop: poll fd() for pollEvents(), then call
    // takeNotifications(), which reads what arrived without waiting and
    // returns the posts received so far, oldest first. Every call here leaves
    // nothing unread behind, so a poll never sleeps on a post already read.
    // Throws NotifyBusError when the connection is lost.
    int fd() const;
    short pollEvents() const;
    std::vector<Notification> takeNotifications();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
