#include "DBusNotifyTransport.h"

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "NotifyBusNames.h"
#include "NotifyDiagnostics.h"

namespace platform {

namespace {

using notify::Problem;
using notify::reportOnce;

// Frees an sd-bus message when it goes out of scope.
struct MessageRef {
    sd_bus_message* message = nullptr;
    MessageRef() = default;
    MessageRef(const MessageRef&) = delete;
    MessageRef& operator=(const MessageRef&) = delete;
    ~MessageRef() { sd_bus_message_unref(message); }
};

// Builds the signal for `notification`; returns 0 or a negative errno (for
// instance when a text is not valid UTF-8, which D-Bus strings must be).
int buildSignal(sd_bus* bus, const Notification& notification, MessageRef& out) {
    int r =
        sd_bus_message_new_signal(bus, &out.message, notify::kBusObjectPath, notify::kBusInterface, notify::kBusMember);
    if (r < 0) return r;
    r = sd_bus_message_append(out.message, "s", notification.name.c_str());
    if (r < 0) return r;
    r = sd_bus_message_open_container(out.message, 'a', "{ss}");
    if (r < 0) return r;
    for (const auto& [key, value] : notification.payload) {
        r = sd_bus_message_append(out.message, "{ss}", key.c_str(), value.c_str());
        if (r < 0) return r;
    }
    return sd_bus_message_close_container(out.message);
}

bool containsNul(const Notification& notification) {
    auto hasNul = [](const std::string& text) { return text.find('\0') != std::string::npos; };
    if (hasNul(notification.name)) return true;
    for (const auto& [key, value] : notification.payload)
        if (hasNul(key) || hasNul(value)) return true;
    return false;
}

// Asks to own `name`, queued behind any owner (RequestName's flags 0). The
// name is for people and tools looking at the bus (busctl list): whatever
// the daemon decides, or if the request cannot be sent, posting goes on. So
// no answer is asked for, which leaves sd-bus no reply to time out (it
// gives one 25 s) while the process does not read the connection.
void requestName(sd_bus* bus, const std::string& name) {
    MessageRef call;
    int r = sd_bus_message_new_method_call(bus, &call.message, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "RequestName");
    if (r >= 0) r = sd_bus_message_append(call.message, "su", name.c_str(), uint32_t{0});
    if (r >= 0) r = sd_bus_message_set_expect_reply(call.message, 0);
    if (r >= 0) sd_bus_send(bus, call.message, nullptr);
}

}  // namespace

DBusNotifyTransport::DBusNotifyTransport(std::string busName) : busName_(std::move(busName)) {}

DBusNotifyTransport::~DBusNotifyTransport() {
    std::lock_guard lock(mutex_);
    finishLocked();
}

bool DBusNotifyTransport::connect() {
    std::string error;
    bus_ = SdBus::openSession(error);
    if (!bus_) {
        reportOnce(Problem::NoSessionBus,
                   connectedBefore_ ? "the session bus is gone (" + error + "); posts stay in this process"
                                    : noSessionBusMessage(error, "signals reach observers in this process only"));
        return false;
    }
    connectedBefore_ = true;
    // Queued before any post, so the daemon handles it first.
    if (!busName_.empty()) requestName(bus_.get(), busName_);
    return true;
}

bool DBusNotifyTransport::sendPending() {
    while (sent_ < pending_.size()) {
        Pending& next = pending_[sent_];
        MessageRef message;
        int r = buildSignal(bus_.get(), next.notification, message);
        if (r >= 0) r = bus_.send(message.message);
        if (r >= 0) {
            next.queuedBefore = true;
            ++sent_;
            continue;
        }
        if (!bus_.isOpen()) return false;
        // Refused for what it is (a text that is not UTF-8, which D-Bus
        // strings must be) or for a full queue, not for the connection:
        // dropped, not tried again.
        reportOnce(Problem::SendFailed,
                   "could not post " + next.notification.name + " to other processes: " + std::strerror(-r));
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(sent_));
    }
    return true;
}

void DBusNotifyTransport::dropWritten() {
    for (uint64_t unwritten = bus_.unwritten(); sent_ > unwritten; --sent_) pending_.pop_front();
}

DBusNotifyTransport::Outcome DBusNotifyTransport::deliverPending(SdBus::Clock::time_point deadline) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!bus_.isOpen() && !connect()) {
            for (const Pending& post : pending_)
                if (post.queuedBefore) lost_.push_back(post.notification.name);
            pending_.clear();
            return Outcome::NoBus;
        }
        const bool flushed = sendPending() && bus_.flushUntil(deadline);
        dropWritten();
        if (bus_.isOpen()) return flushed ? Outcome::Taken : Outcome::Queued;
        sent_ = 0;  // the connection closed: what it had not written goes again on the next
    }
    return Outcome::Lost;
}

void DBusNotifyTransport::post(const Notification& notification) {
    const auto deadline = SdBus::Clock::now() + kPostBound;
    std::lock_guard lock(mutex_);
    if (containsNul(notification)) {
        // D-Bus strings end at the first NUL; sending would cut the text.
        reportOnce(Problem::SendFailed, "not posting " + notification.name.substr(0, notification.name.find('\0')) +
                                            " to other processes: it contains a NUL character");
        return;
    }
    pending_.push_back({notification});
    switch (deliverPending(deadline)) {
        case Outcome::Taken:
        case Outcome::NoBus:  // connect() said so
            return;
        case Outcome::Queued:
            reportOnce(Problem::DeliveryTimedOut, "the session bus did not take a post within " +
                                                      std::to_string(kPostBound.count()) + " ms; it stays queued");
            return;
        case Outcome::Lost:
            reportOnce(Problem::SendFailed, "lost the session bus while posting " + notification.name +
                                                "; the post stays queued for a new connection");
            return;
    }
}

UndeliveredPosts DBusNotifyTransport::finish() {
    std::lock_guard lock(mutex_);
    return finishLocked();
}

UndeliveredPosts DBusNotifyTransport::finishLocked() {
    if (!pending_.empty()) deliverPending(SdBus::Clock::now() + kFinishBound);
    UndeliveredPosts undelivered{std::move(lost_), {}};
    for (const Pending& post : pending_) undelivered.names.push_back(post.notification.name);
    if (!pending_.empty())
        undelivered.reason = "the session bus daemon did not take them within " +
                             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kFinishBound).count()) +
                             " s";
    else if (!undelivered.names.empty())
        undelivered.reason = "the session bus went away before taking them";
    pending_.clear();
    lost_.clear();
    sent_ = 0;
    bus_ = SdBus{};
    return undelivered;
}

std::unique_ptr<NotifyTransport> makeSessionBusTransport(std::string busName) {
    return std::make_unique<DBusNotifyTransport>(std::move(busName));
}

}  // namespace platform
