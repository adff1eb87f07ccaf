#include "SdBus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace platform {

uint64_t microsecondsUntil(SdBus::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - SdBus::Clock::now());
    return left.count() > 0 ? static_cast<uint64_t>(left.count()) : 0;
}

std::string noSessionBusMessage(const std::string& reason, std::string_view consequence) {
    return "there is no session bus (" + reason + "), so " + std::string(consequence) +
           "; a desktop session has one, or run the program inside dbus-run-session";
}

namespace {

// Why sd_bus_open_user failed with `error`, in words.
std::string whyNoSessionBus(int error) {
    if (error == ENOMEDIUM) return "neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set";
    std::string why = "nothing answers at ";
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        why.append("\"").append(address).append("\"");
    else
        why.append("$XDG_RUNTIME_DIR/bus");
    return why.append(": ").append(std::strerror(error));
}

}  // namespace

SdBus::SdBus(SdBus&& other) noexcept
    : bus_(std::exchange(other.bus_, nullptr)), unwritten_(std::exchange(other.unwritten_, 0)) {}

SdBus& SdBus::operator=(SdBus&& other) noexcept {
    if (this != &other) {
        close();
        bus_ = std::exchange(other.bus_, nullptr);
        unwritten_ = std::exchange(other.unwritten_, 0);
    }
    return *this;
}

SdBus::~SdBus() { close(); }

void SdBus::close() {
    // sd_bus_flush_close_unref would wait for the daemon without limit.
    if (bus_ != nullptr) sd_bus_close_unref(std::exchange(bus_, nullptr));
}

SdBus SdBus::openSession(std::string& error) {
    sd_bus* bus = nullptr;
    // sd_bus_open_user connects the socket and sends the first handshake
    // bytes; it does not wait for the daemon's answer.
    const int r = sd_bus_open_user(&bus);
    if (r < 0) {
        error = whyNoSessionBus(-r);
        return SdBus{};
    }
    return SdBus{bus};
}

bool SdBus::isOpen() const { return bus_ != nullptr && sd_bus_is_open(bus_) > 0; }

int SdBus::send(sd_bus_message* message) {
    const int r = sd_bus_send(bus_, message, nullptr);
    if (r >= 0) {
        ++unwritten_;
        noteWritten();
    }
    return r;
}

void SdBus::noteWritten() {
    // Once closed, sd-bus's queue no longer tells what was written.
    uint64_t queued = 0;
    if (isOpen() && sd_bus_get_n_queued_write(bus_, &queued) >= 0) unwritten_ = std::min(unwritten_, queued);
}

// Processes the bus and waits on it until `done()` reports true (returns
// true), the connection fails, or the deadline passes (returns false).
// `done` sees how much the last sd_bus_process call did; it returns nullopt
// to keep going.
template <typename Done>
bool SdBus::processUntil(Clock::time_point deadline, Done done) {
    if (bus_ == nullptr) return false;
    for (;;) {
        const int processed = sd_bus_process(bus_, nullptr);
        noteWritten();
        if (processed < 0) {
            sd_bus_close(bus_);
            return false;
        }
        if (const std::optional<bool> finished = done(processed)) return *finished;
        if (processed > 0) {
            if (Clock::now() >= deadline) return false;
            continue;
        }
        const uint64_t left = microsecondsUntil(deadline);
        if (left == 0) return false;
        const int waited = sd_bus_wait(bus_, left);
        if (waited < 0 && waited != -EINTR) return false;
    }
}

bool SdBus::flushUntil(Clock::time_point deadline) {
    // Processing advances the handshake, writes queued messages and reads
    // (and drops) what the daemon sent us.
    return processUntil(deadline, [this](int processed) -> std::optional<bool> {
        uint64_t queued = 0;
        if (sd_bus_get_n_queued_write(bus_, &queued) < 0 || sd_bus_is_open(bus_) <= 0) return false;
        if (queued == 0 && processed == 0 && sd_bus_is_ready(bus_) > 0) return true;
        return std::nullopt;
    });
}

bool SdBus::waitUntilReady(Clock::time_point deadline) {
    if (bus_ == nullptr) return false;
    const auto ready = [this]() -> std::optional<bool> {
        const int r = sd_bus_is_ready(bus_);
        if (r > 0) return true;
        if (r < 0 || sd_bus_is_open(bus_) <= 0) return false;
        return std::nullopt;
    };
    if (const std::optional<bool> now = ready()) return *now;
    return processUntil(deadline, [&](int) { return ready(); });
}

}  // namespace platform
