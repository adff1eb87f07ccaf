#pragma once
// Owns one sd-bus connection to the D-Bus session bus. Nothing here waits
// without a deadline: the handshake is started without waiting for it, and
// flushing and waiting for readiness stop at the deadline given, so a stuck
// bus daemon cannot hang the caller.

#include <chrono>
#include <string>

struct sd_bus;

namespace platform {

class SdBus {
public:
    using Clock = std::chrono::steady_clock;
    // How long the destructor keeps writing queued messages before closing.
    // Longer than a post's own bound: a process that posts and ends closes
    // its connection at once, and a daemon that is only slow (a loaded
    // machine) must still get the posts. Nothing queued, no wait.
    static constexpr std::chrono::milliseconds kCloseFlushBound{1000};

    SdBus() = default;
    SdBus(SdBus&& other) noexcept;
    SdBus& operator=(SdBus&& other) noexcept;
    SdBus(const SdBus&) = delete;
    SdBus& operator=(const SdBus&) = delete;
    // Writes what is still queued for at most kCloseFlushBound, then closes.
    ~SdBus();

    // Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus) and starts the handshake without waiting for the
    // daemon. On failure returns an empty SdBus and sets `error` to the
    // reason; a socket nobody listens on fails here, a stopped daemon does not.
    static SdBus openSession(std::string& error);

    sd_bus* get() const { return bus_; }
    explicit operator bool() const { return bus_ != nullptr; }
    // The connection exists and has not been closed by either side.
    bool isOpen() const;

    // Processes the connection and writes queued messages until none is left
    // (true) or `deadline` passes or the connection fails (false).
    bool flushUntil(Clock::time_point deadline);

    // Processes the connection until the handshake with the daemon is done
    // (true) or `deadline` passes or the connection fails (false).
    bool waitUntilReady(Clock::time_point deadline);

private:
    explicit SdBus(sd_bus* bus) : bus_(bus) {}
    void close();

    sd_bus* bus_ = nullptr;
};

// Microseconds left until `deadline` (0 when it has passed), as sd-bus takes them.
uint64_t microsecondsUntil(SdBus::Clock::time_point deadline);

}  // namespace platform
