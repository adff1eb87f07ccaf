#pragma once
// Observers in this process: called synchronously by each post of their
// name, in registration order. Observers may be added and removed from any
// thread, also from inside a call.

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "Notification.h"

namespace platform {

using NotificationObserver = std::function<void(const Notification&)>;

// Removes its observer when destroyed; once it is, the observer is never
// called again (a call running on another thread is waited for).
class ObserverToken {
public:
    ObserverToken() = default;
    explicit ObserverToken(uint64_t id) : id_(id) {}
    ObserverToken(ObserverToken&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ~ObserverToken();

private:
    uint64_t id_ = 0;
};

[[nodiscard]] ObserverToken addNotificationObserver(std::string_view name, NotificationObserver observer);

// Calls every observer of the notification's name. An observer that throws
// is reported once (see NotifyDiagnostics.h) and the others are still called.
void deliverToObservers(const Notification& notification);

}  // namespace platform
