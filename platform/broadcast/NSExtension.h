#pragma once
// The extension's bundle declaration and the process entry that prepares a
// process to host it.

#include <memory>
#include <string>
#include <vector>

#include "../notify/NotifyTransport.h"
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

// The process entry, made by the host's main before it drives the principal
// class: a reader that goes away no longer kills the process with SIGPIPE,
// nor a file-size limit with SIGXFSZ (the write fails instead, and the
// writer keeps what was recorded up to the limit); the log takes the
// bundle's name; the process is entitled to the bundle's groups; posts go to
// other processes over the session bus under the bundle's identifier.
class NSExtensionProcess {
public:
    explicit NSExtensionProcess(const NSExtensionBundle& bundle);
    // Finishes, when finish() was not called.
    ~NSExtensionProcess();
    // Ends the posts to other processes: the signals still queued get about
    // a second to reach the session bus (a stuck daemon holds them); those
    // that do not are returned, with the reason. Later posts reach this
    // process only.
    platform::UndeliveredPosts finish();
    NSExtensionProcess(const NSExtensionProcess&) = delete;
    NSExtensionProcess& operator=(const NSExtensionProcess&) = delete;
};
