#include "DBusNotifyTransport.h"

#include <systemd/sd-bus.h>

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
    int r = sd_bus_message_new_signal(bus, &out.message, notify::kBusObjectPath, notify::kBusInterface,
                                      notify::kBusMember);
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

// The bus name is for people and tools looking at the bus (busctl list):
// whatever the daemon answers (owner, queued, refused), posting goes on.
// sd-bus's own handler would close the connection on a refusal.
int ignoreNameReply(sd_bus_message* /*reply*/, void* /*userdata*/, sd_bus_error* /*error*/) { return 1; }

}  // namespace

DBusNotifyTransport::DBusNotifyTransport(std::string busName) : busName_(std::move(busName)) {}

bool DBusNotifyTransport::connect() {
    std::string error;
    bus_ = SdBus::openSession(error);
    if (!bus_) {
        reportOnce(Problem::NoSessionBus,
                   connectedBefore_ ? "the session bus is gone (" + error + "); posts stay in this process"
                                    : "no session bus (" + error + "); posts reach observers in this process only");
        return false;
    }
    connectedBefore_ = true;
    // Sent without waiting for the reply; the daemon handles it before the
    // signals that follow on this connection.
    if (!busName_.empty())
        sd_bus_request_name_async(bus_.get(), nullptr, busName_.c_str(), SD_BUS_NAME_QUEUE, ignoreNameReply,
                                  nullptr);
    return true;
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
    // The first post connects; a connection the daemon closed (it exited or
    // restarted) is replaced; a send that finds the connection just closed
    // is tried once more on a new one, so a restarted daemon loses no post.
    int r = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!bus_.isOpen() && !connect()) return;
        MessageRef message;
        r = buildSignal(bus_.get(), notification, message);
        if (r >= 0) r = sd_bus_send(bus_.get(), message.message, nullptr);
        if (r >= 0 || bus_.isOpen()) break;
    }
    if (r < 0) {
        reportOnce(Problem::SendFailed, "could not post " + notification.name +
                                            " to other processes: " + std::strerror(-r));
        return;
    }
    if (bus_.flushUntil(deadline)) return;
    if (bus_.isOpen())
        reportOnce(Problem::DeliveryTimedOut,
                   "the session bus did not take a post within " + std::to_string(kPostBound.count()) +
                       " ms; it stays queued");
    else
        reportOnce(Problem::SendFailed, "lost the session bus while posting " + notification.name);
}

std::unique_ptr<NotifyTransport> makeSessionBusTransport(std::string busName) {
    return std::make_unique<DBusNotifyTransport>(std::move(busName));
}

}  // namespace platform
