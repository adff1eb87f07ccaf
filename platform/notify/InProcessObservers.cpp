#include "InProcessObservers.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NotifyDiagnostics.h"

namespace platform {

namespace {

struct ObserverEntry {
    uint64_t id = 0;
    std::string name;
    NotificationObserver callback;
    bool active = true;
    // Threads currently inside `callback` (a thread appears more than once
    // when an observer posts to itself).
    std::vector<std::thread::id> callers;
};

struct Observers {
    std::mutex mutex;
    std::condition_variable callFinished;
    uint64_t nextId = 1;
    std::vector<std::shared_ptr<ObserverEntry>> entries;  // registration order
};

Observers& observers() {
    // Never destroyed: tokens may be released during static destruction.
    static auto* instance = new Observers;
    return *instance;
}

void removeObserver(uint64_t id) {
    auto& o = observers();
    NotificationObserver retired;
    std::unique_lock lock(o.mutex);
    auto it = std::find_if(o.entries.begin(), o.entries.end(), [id](const auto& entry) { return entry->id == id; });
    if (it == o.entries.end()) return;
    std::shared_ptr<ObserverEntry> entry = *it;
    o.entries.erase(it);
    entry->active = false;
    // Once this returns the observer is never called again, so whatever it
    // captured may be destroyed. Calls running on other threads are waited
    // for; a call on this thread (an observer removing itself or another
    // observer from inside a callback) is not, as it cannot end before we return.
    const auto self = std::this_thread::get_id();
    o.callFinished.wait(lock, [&] {
        return std::all_of(entry->callers.begin(), entry->callers.end(),
                           [self](std::thread::id caller) { return caller == self; });
    });
    // The callback is destroyed on return, after the lock, and only when no
    // call is running on this thread; otherwise the last reference frees it.
    if (entry->callers.empty()) retired = std::move(entry->callback);
}

}  // namespace

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
    auto& o = observers();
    auto entry = std::make_shared<ObserverEntry>();
    entry->name = std::string(name);
    entry->callback = std::move(observer);
    std::lock_guard lock(o.mutex);
    entry->id = o.nextId++;
    o.entries.push_back(entry);
    return ObserverToken{entry->id};
}

void deliverToObservers(const Notification& notification) {
    auto& o = observers();
    std::vector<std::shared_ptr<ObserverEntry>> targets;
    {
        std::lock_guard lock(o.mutex);
        for (const auto& entry : o.entries)
            if (entry->name == notification.name) targets.push_back(entry);
    }
    const auto self = std::this_thread::get_id();
    for (const auto& entry : targets) {
        {
            std::lock_guard lock(o.mutex);
            // An earlier observer of this post may have removed this one.
            if (!entry->active) continue;
            entry->callers.push_back(self);
        }
        try {
            entry->callback(notification);
        } catch (const std::exception& error) {
            notify::reportOnce(notify::Problem::ObserverThrew,
                               "an observer of " + notification.name + " threw: " + error.what());
        } catch (...) {
            notify::reportOnce(notify::Problem::ObserverThrew, "an observer of " + notification.name + " threw");
        }
        {
            std::lock_guard lock(o.mutex);
            entry->callers.erase(std::find(entry->callers.begin(), entry->callers.end(), self));
        }
        o.callFinished.notify_all();
    }
}

}  // namespace platform
