#pragma once
// The platform log: one line per message on standard error, prefixed with a
// timestamp and "process[pid:tid]". Messages are a format whose "%@" stands
// for the textual description of the one object passed.

#include <functional>
#include <string>
#include <string_view>

class NSError;

void NSLog(std::string_view format, std::string_view argument);
// "%@" with an error object stands for its full description.
void NSLog(std::string_view format, const NSError& error);

namespace platform {

// Receives the message after "%@" substitution, without the prefix.
using LogSink = std::function<void(std::string_view message)>;

// Routes log messages to `sink` instead of standard error; an empty sink
// restores standard error. Returns the previous sink.
LogSink setLogSink(LogSink sink);

// Sets the process name written before each line (default: the executable's).
void setLogProcessName(std::string_view name);

// Writes a line of one of the platform's services (such as "notify: ..."),
// which is none of the system's messages, by the log's route: to the sink
// when one is set, so a silenced log silences it too; else to standard error
// as it stands.
void logServiceLine(std::string_view line);

// The full line as written to standard error for `message`, without newline.
std::string formatLogLine(std::string_view message);

}  // namespace platform
