#pragma once
// Problems of the notify center are reported as "notify: ..." lines. They are
// not log messages of the system, but they take the log's route (see
// platform::logServiceLine): on standard error as they stand, or to the log's
// sink, so a silenced log silences them too. Each kind of problem is reported
// once per process so a missing or stuck bus cannot flood the output.

#include <string_view>

namespace platform::notify {

enum class Problem {
    NoSessionBus,      // no session bus to connect to
    SendFailed,        // a post could not be handed to the bus
    DeliveryTimedOut,  // the bus did not take a post within the bound
    ObserverThrew,     // an in-process observer threw while being called
};

// Writes "notify: <message>" the first time `problem` is reported in this
// process; later reports of the same problem are dropped.
void reportOnce(Problem problem, std::string_view message);

}  // namespace platform::notify
