// The Darwin notify center of this platform: posts reach the observers in this
// process synchronously, in registration order, then the installed
// system-wide transport carries them to other processes.

#include "CFNotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "NotifyDiagnostics.h"

struct __CFNotificationCenter {};

namespace {

struct ObserverEntry {
    uint64_t id = 0;
    std::string name;
    platform::NotificationObserver callback;
    bool active = true;
    // Threads currently inside `callback` (a thread appears more than once
    // when an observer posts to itself).
    std::vector<std::thread::id> callers;
};

struct Center {
    std::mutex mutex;
    std::condition_variable callFinished;
    uint64_t nextId = 1;
    std::vector<std::shared_ptr<ObserverEntry>> observers;  // registration order

    // Held for the whole of a transport post so the transport is never
    // replaced or destroyed while in use, and posts reach it one at a time.
    std::mutex transportMutex;
    std::unique_ptr<platform::NotifyTransport> transport;
};

Center& center() {
    // Never destroyed: tokens may be released during static destruction.
    static auto* instance = new Center;
    return *instance;
}

__CFNotificationCenter darwinCenter;

void removeObserver(uint64_t id) {
    auto& c = center();
    platform::NotificationObserver retired;
    {
        std::unique_lock lock(c.mutex);
        auto it = std::find_if(c.observers.begin(), c.observers.end(),
                               [id](const auto& entry) { return entry->id == id; });
        if (it == c.observers.end()) return;
        std::shared_ptr<ObserverEntry> entry = *it;
        c.observers.erase(it);
        entry->active = false;
        // Once this returns the observer is never called again, so whatever
        // it captured may be destroyed. Calls running on other threads are
        // waited for; a call on this thread (an observer removing itself or
        // another observer from inside a callback) is not, as it cannot end
        // before we return.
        const auto self = std::this_thread::get_id();
        c.callFinished.wait(lock, [&] {
            return std::all_of(entry->callers.begin(), entry->callers.end(),
                               [self](std::thread::id caller) { return caller == self; });
        });
        // The callback may be destroyed here only when no call is running on
        // this thread; otherwise the last reference frees it later.
        if (entry->callers.empty()) retired = std::move(entry->callback);
    }
}

void deliverInProcess(const platform::Notification& notification) {
    auto& c = center();
    std::vector<std::shared_ptr<ObserverEntry>> targets;
    {
        std::lock_guard lock(c.mutex);
        for (const auto& entry : c.observers)
            if (entry->name == notification.name) targets.push_back(entry);
    }
    const auto self = std::this_thread::get_id();
    for (const auto& entry : targets) {
        {
            std::lock_guard lock(c.mutex);
            // An earlier observer of this post may have removed this one.
            if (!entry->active) continue;
            entry->callers.push_back(self);
        }
        try {
            entry->callback(notification);
        } catch (const std::exception& error) {
            platform::notify::reportOnce(platform::notify::Problem::ObserverThrew,
                                         "an observer of " + notification.name + " threw: " + error.what());
        } catch (...) {
            platform::notify::reportOnce(platform::notify::Problem::ObserverThrew,
                                         "an observer of " + notification.name + " threw");
        }
        {
            std::lock_guard lock(c.mutex);
            entry->callers.erase(std::find(entry->callers.begin(), entry->callers.end(), self));
        }
        c.callFinished.notify_all();
    }
}

void deliverToOtherProcesses(const platform::Notification& notification) {
    auto& c = center();
    std::lock_guard lock(c.transportMutex);
    if (!c.transport) return;
    try {
        c.transport->post(notification);
    } catch (const std::exception& error) {
        platform::notify::reportOnce(platform::notify::Problem::SendFailed,
                                     std::string("posting to other processes failed: ") + error.what());
    }
}

}  // namespace

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter() { return &darwinCenter; }

void CFNotificationCenterPostNotification(CFNotificationCenterRef notificationCenter, CFStringRef name,
                                          const void* /*object*/, CFDictionaryRef userInfo,
                                          bool /*deliverImmediately*/) {
    // The Darwin center ignores the object and always delivers immediately.
    if (notificationCenter != &darwinCenter || name == nullptr) return;
    const platform::Notification notification{std::string(CFStringGetText(name)),
                                              CFDictionaryDescribeEntries(userInfo)};
    deliverInProcess(notification);
    deliverToOtherProcesses(notification);
}

namespace platform {

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        if (id_ != 0) removeObserver(id_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

ObserverToken::~ObserverToken() {
    if (id_ != 0) removeObserver(id_);
}

ObserverToken addNotificationObserver(std::string_view name, NotificationObserver observer) {
    if (!observer) return ObserverToken{};
    auto& c = center();
    auto entry = std::make_shared<ObserverEntry>();
    entry->name = std::string(name);
    entry->callback = std::move(observer);
    std::lock_guard lock(c.mutex);
    entry->id = c.nextId++;
    c.observers.push_back(entry);
    return ObserverToken{entry->id};
}

std::unique_ptr<NotifyTransport> setNotifyTransport(std::unique_ptr<NotifyTransport> transport) {
    auto& c = center();
    std::lock_guard lock(c.transportMutex);
    std::swap(c.transport, transport);
    return transport;
}

}  // namespace platform
