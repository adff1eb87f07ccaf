#pragma once
// Warnings about the user's input that do not stop the run (a half frame at
// the end of standard input, a sound file that ended early): one line each,
// on standard error unless the run routes them elsewhere (above the
// progress line).

#include <functional>
#include <string_view>

namespace host {

using WarningSink = std::function<void(std::string_view message)>;

void warn(std::string_view message);

// Sends warnings to `sink`; an empty sink restores standard error
// ("warning: MESSAGE"). Returns the previous sink.
WarningSink setWarningSink(WarningSink sink);

}  // namespace host
