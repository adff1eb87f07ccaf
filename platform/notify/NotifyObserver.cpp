#include "NotifyObserver.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "NotifyBusNames.h"
#include "SdBus.h"

namespace platform {

namespace {

void checkName(const std::string& name) {
    if (name.empty()) throw std::invalid_argument("a notification name must not be empty");
    // The name is quoted inside a match rule; these characters would need
    // escaping that sd-bus and the bus daemon read differently.
    if (name.find_first_of(std::string("'\\\0", 3)) != std::string::npos)
        throw std::invalid_argument("notification name contains a quote, backslash or NUL: " + name);
}

std::string matchRuleFor(const std::string& name) {
    return std::string("type='signal',path='") + notify::kBusObjectPath + "',interface='" + notify::kBusInterface +
           "',member='" + notify::kBusMember + "',arg0='" + name + "'";
}

// Reads a post; false when the signal does not have the expected shape.
bool readNotification(sd_bus_message* message, Notification& out) {
    if (sd_bus_message_has_signature(message, notify::kBusSignature) <= 0) return false;
    const char* name = nullptr;
    if (sd_bus_message_read(message, "s", &name) < 0) return false;
    out.name = name;
    if (sd_bus_message_enter_container(message, 'a', "{ss}") < 0) return false;
    for (;;) {
        const char* key = nullptr;
        const char* value = nullptr;
        const int r = sd_bus_message_read(message, "{ss}", &key, &value);
        if (r < 0) return false;
        if (r == 0) break;
        out.payload.emplace_back(key, value);
    }
    return sd_bus_message_exit_container(message) >= 0;
}

}  // namespace

struct NotifyObserver::State {
    SdBus bus;
    std::vector<sd_bus_slot*> slots;
    std::deque<Notification> received;

    ~State() {
        for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
    }

    static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
        auto* self = static_cast<State*>(userdata);
        Notification notification;
        if (readNotification(message, notification)) self->received.push_back(std::move(notification));
        return 0;
    }

    std::string lostReason;  // set once the connection has failed

    // Reads and dispatches everything available without waiting. Posts that
    // arrived before a failure stay queued; the failure is remembered.
    void processAvailable() {
        while (lostReason.empty()) {
            const int r = sd_bus_process(bus.get(), nullptr);
            if (r < 0) lostReason = std::strerror(-r);
            if (r <= 0) return;
        }
    }

    void throwIfLost() const {
        if (!lostReason.empty()) throw NotifyBusError("lost the session bus: " + lostReason);
    }

    std::optional<Notification> popFront() {
        if (received.empty()) return std::nullopt;
        Notification next = std::move(received.front());
        received.pop_front();
        return next;
    }
};

NotifyObserver::NotifyObserver(const std::vector<std::string>& names, std::chrono::milliseconds registrationTimeout)
    : state_(std::make_unique<State>()) {
    std::vector<std::string> unique;
    for (const auto& name : names) {
        checkName(name);
        if (std::find(unique.begin(), unique.end(), name) == unique.end()) unique.push_back(name);
    }

    const auto deadline = SdBus::Clock::now() + registrationTimeout;
    std::string error;
    state_->bus = SdBus::openSession(error);
    if (!state_->bus) throw NotifyBusError(noSessionBusMessage(error, "posts from other processes cannot be received"));
    // sd_bus_add_match would wait for the handshake without limit; wait
    // here with our deadline first, then bound the AddMatch calls too.
    if (!state_->bus.waitUntilReady(deadline))
        throw NotifyBusError("the session bus did not answer within " + std::to_string(registrationTimeout.count()) +
                             " ms");
    for (const auto& name : unique) {
        const uint64_t left = std::max<uint64_t>(microsecondsUntil(deadline), 1);
        sd_bus_set_method_call_timeout(state_->bus.get(), left);
        sd_bus_slot* slot = nullptr;
        const int r =
            sd_bus_add_match(state_->bus.get(), &slot, matchRuleFor(name).c_str(), &State::onSignal, state_.get());
        if (r < 0) throw NotifyBusError("could not register for " + name + " on the session bus: " + std::strerror(-r));
        state_->slots.push_back(slot);
    }
    // Dispatch what the calls above left queued (the bus's own greeting
    // signals) so the descriptor alone tells when a post arrives.
    state_->processAvailable();
    state_->throwIfLost();
}

NotifyObserver::NotifyObserver(NotifyObserver&&) noexcept = default;
NotifyObserver& NotifyObserver::operator=(NotifyObserver&&) noexcept = default;
NotifyObserver::~NotifyObserver() = default;

std::optional<Notification> NotifyObserver::waitForNotification(std::chrono::milliseconds timeout) {
    const auto deadline = SdBus::Clock::now() + timeout;
    for (;;) {
        if (auto next = state_->popFront()) return next;
        state_->throwIfLost();
        state_->processAvailable();
        if (auto next = state_->popFront()) return next;
        state_->throwIfLost();
        const uint64_t left = microsecondsUntil(deadline);
        if (left == 0) return std::nullopt;
        const int r = sd_bus_wait(state_->bus.get(), left);
        if (r < 0 && r != -EINTR) state_->lostReason = std::strerror(-r);
    }
}

int NotifyObserver::fd() const { return sd_bus_get_fd(state_->bus.get()); }

short NotifyObserver::pollEvents() const {
    const int events = sd_bus_get_events(state_->bus.get());
    return static_cast<short>(events > 0 ? events : 0);
}

std::vector<Notification> NotifyObserver::takeNotifications() {
    state_->processAvailable();
    if (state_->received.empty()) state_->throwIfLost();
    std::vector<Notification> out(std::make_move_iterator(state_->received.begin()),
                                  std::make_move_iterator(state_->received.end()));
    state_->received.clear();
    return out;
}

}  // namespace platform
