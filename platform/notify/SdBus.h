#pragma once
// Owns one sd-bus connection to the D-Bus session bus. Nothing here waits
// without a deadline: the handshake is started without waiting for it, and
// flushing and waiting for readiness stop at the deadline given, so a stuck
// bus daemon cannot hang the caller.

#include <chrono>
#include <string>
#include <string_view>

struct sd_bus;
struct sd_bus_message;

namespace platform {

class SdBus {
public:
    using Clock = std::chrono::steady_clock;

    SdBus() = default;
    SdBus(SdBus&& other) noexcept;
    SdBus& operator=(SdBus&& other) noexcept;
    SdBus(const SdBus&) = delete;
    SdBus& operator=(const SdBus&) = delete;
    // Closes at once; what is still queued is dropped (flush first to keep it).
    ~SdBus();

    // Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus) and starts the handshake without waiting for the
    // daemon. On failure returns an empty SdBus and sets `error` to the
    // reason, in words; a socket nobody listens on fails here, a stopped
    // daemon does not.
    static SdBus openSession(std::string& error);

    sd_bus* get() const { return bus_; }
    explicit operator bool() const { return bus_ != nullptr; }
    // The connection exists and has not been closed by either side.
    bool isOpen() const;

    // Queues `message` (sd_bus_send) and counts it among the messages sent
    // through this object. Returns sd_bus_send's result.
    int send(sd_bus_message* message);
    // How many of the messages given to send() were not yet wholly written
    // to the socket when the connection was last seen open. sd-bus writes in
    // order, so they are always the newest ones.
    uint64_t unwritten() const { return unwritten_; }

    // Processes the connection until the handshake with the daemon is
    // answered, every queued message is written and nothing is left to read
    // (true), or `deadline` passes or the connection fails (false). Reading
    // the handshake's answer here matters: sd-bus gives it a 25 s timeout,
    // and a connection that is next processed after that would be closed
    // for a timeout even with the answer waiting on the socket.
    bool flushUntil(Clock::time_point deadline);

    // Processes the connection until the handshake with the daemon is done
    // (true) or `deadline` passes or the connection fails (false).
    bool waitUntilReady(Clock::time_point deadline);

private:
    explicit SdBus(sd_bus* bus) : bus_(bus) {}
    void close();
    // Processes until `done` says so; a processing error closes the
    // connection, so the owner sees it as lost and may open a new one.
    template <typename Done>
    bool processUntil(Clock::time_point deadline, Done done);
    void noteWritten();

    sd_bus* bus_ = nullptr;
    uint64_t unwritten_ = 0;
};

// Microseconds left until `deadline` (0 when it has passed), as sd-bus takes them.
uint64_t microsecondsUntil(SdBus::Clock::time_point deadline);

// What a program tells its user when openSession fails: that there is no
// session bus (`reason`, from openSession), so `consequence`, and where a
// session bus comes from.
std::string noSessionBusMessage(const std::string& reason, std::string_view consequence);

}  // namespace platform
