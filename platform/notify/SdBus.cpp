#include "SdBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace platform {

uint64_t microsecondsUntil(SdBus::Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - SdBus::Clock::now());
    return left.count() > 0 ? static_cast<uint64_t>(left.count()) : 0;
}

SdBus::SdBus(SdBus&& other) noexcept : bus_(std::exchange(other.bus_, nullptr)) {}

SdBus& SdBus::operator=(SdBus&& other) noexcept {
    if (this != &other) {
        close();
        bus_ = std::exchange(other.bus_, nullptr);
    }
    return *this;
}

SdBus::~SdBus() { close(); }

void SdBus::close() {
    if (bus_ == nullptr) return;
    // sd_bus_flush_close_unref would wait for the daemon without limit.
    flushUntil(Clock::now() + kCloseFlushBound);
    sd_bus_close_unref(std::exchange(bus_, nullptr));
}

SdBus SdBus::openSession(std::string& error) {
    sd_bus* bus = nullptr;
    // sd_bus_open_user connects the socket and sends the first handshake
    // bytes; it does not wait for the daemon's answer.
    const int r = sd_bus_open_user(&bus);
    if (r < 0) {
        error = std::strerror(-r);
        return SdBus{};
    }
    return SdBus{bus};
}

bool SdBus::isOpen() const { return bus_ != nullptr && sd_bus_is_open(bus_) > 0; }

namespace {

// Processes `bus` and waits on it until `done()` reports true (returns
// true), the connection fails, or the deadline passes (returns false).
// `done` sees how much the last sd_bus_process call did; it returns nullopt
// to keep going.
template <typename Done>
bool processUntil(sd_bus* bus, SdBus::Clock::time_point deadline, Done done) {
    if (bus == nullptr) return false;
    for (;;) {
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0) return false;
        if (const std::optional<bool> finished = done(processed)) return *finished;
        if (processed > 0) {
            if (SdBus::Clock::now() >= deadline) return false;
            continue;
        }
        const uint64_t left = microsecondsUntil(deadline);
        if (left == 0) return false;
        const int waited = sd_bus_wait(bus, left);
        if (waited < 0 && waited != -EINTR) return false;
    }
}

}  // namespace

bool SdBus::flushUntil(Clock::time_point deadline) {
    // Processing advances the handshake, writes queued messages and reads
    // (and drops) what the daemon sent us.
    return processUntil(bus_, deadline, [this](int processed) -> std::optional<bool> {
        uint64_t queued = 0;
        if (sd_bus_get_n_queued_write(bus_, &queued) < 0) return false;
        if (queued == 0 && processed == 0) return true;
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
    return processUntil(bus_, deadline, [&](int) { return ready(); });
}

}  // namespace platform
