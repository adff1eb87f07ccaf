#pragma once
// Problems of the notify transport are reported on standard error as
// "notify: ..." lines, never through the system log (which holds only the
// system's own messages). Each kind of problem is reported once per process
// so a missing or stuck bus cannot flood the output.

#include <string_view>

namespace platform::notify {

enum class Problem {
    NoSessionBus,     // no session bus to connect to
    SendFailed,       // a post could not be handed to the bus
    DeliveryTimedOut, // the bus did not take a post within the bound
    ObserverThrew,    // an in-process observer threw while being called
};

// Writes "notify: <message>" to standard error the first time `problem` is
// reported in this process; later reports of the same problem are dropped.
void reportOnce(Problem problem, std::string_view message);

}  // namespace platform::notify
