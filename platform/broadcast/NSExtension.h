#pragma once
// The extension's bundle declaration and the process entry that hosts it.

#include <memory>
#include <string>
#include <vector>

#include "RPBroadcastSampleHandler.h"

// What an extension declares about itself: its name, its principal class,
// the application groups it is entitled to, and its identifier (a reverse-DNS
// name, which its process owns on the session bus while it posts).
struct NSExtensionBundle {
    std::string bundleName;
    std::unique_ptr<RPBroadcastSampleHandler> (*makePrincipalClass)();
    std::vector<std::string> applicationGroups;
    std::string bundleIdentifier;
};

// Defined by the extension: its bundle declaration.
const NSExtensionBundle& NSExtensionMainBundle();

// The process entry: prepares the platform services (log, notify center)
// and hands control to the broadcast host, which creates the principal class
// and drives it. Returns the process's exit status.
int NSExtensionMain(int argc, char** argv);

namespace platform {
// Defined by the host: drives broadcasts for the bundle's principal class.
int runBroadcastHost(int argc, char** argv, const NSExtensionBundle& bundle);
}  // namespace platform
