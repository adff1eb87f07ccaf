#include "SdBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
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

bool SdBus::flushUntil(Clock::time_point deadline) {
    if (bus_ == nullptr) return false;
    for (;;) {
        // Processing advances the handshake, writes queued messages and
        // reads (and drops) what the daemon sent us.
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) return false;
        uint64_t queued = 0;
        if (sd_bus_get_n_queued_write(bus_, &queued) < 0) return false;
        if (queued == 0 && processed == 0) return true;
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

bool SdBus::waitUntilReady(Clock::time_point deadline) {
    if (bus_ == nullptr) return false;
    for (;;) {
        const int ready = sd_bus_is_ready(bus_);
        if (ready > 0) return true;
        if (ready < 0 || sd_bus_is_open(bus_) <= 0) return false;
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) return false;
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

}  // namespace platform
