#pragma once
// The broadcast host: plays the platform's broadcast service for a bundle's
// principal class, from the command line or a JSON scenario.

#include "platform/broadcast/NSExtension.h"

namespace host {

// Reads the command line, validates everything it names, drives the
// broadcasts and prints the summary. Returns the exit status (HostError.h).
int runBroadcastHost(int argc, char** argv, const NSExtensionBundle& bundle);

// After the run: says on standard error, --quiet or not, which signals never
// reached the session bus, and returns the exit status the run ends with,
// given the host's own `status`.
int finishBroadcastHost(int argc, char** argv, int status, const platform::UndeliveredPosts& undelivered);

}  // namespace host
