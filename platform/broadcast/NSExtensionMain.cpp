#include "NSExtension.h"

#include <csignal>

#include "../files/NSFileManager.h"
#include "../log/NSLog.h"
#include "../notify/CFNotificationCenter.h"
#include "../notify/DBusNotifyTransport.h"

int NSExtensionMain(int argc, char** argv) {
    const NSExtensionBundle& bundle = NSExtensionMainBundle();
    // A reader that goes away must not kill the extension with SIGPIPE, nor
    // a file-size limit with SIGXFSZ: the write fails instead, and the
    // writer keeps and hands over what was recorded up to the limit.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    platform::setLogProcessName(bundle.bundleName);
    platform::setEntitledApplicationGroups(bundle.applicationGroups);
    platform::setNotifyTransport(platform::makeSessionBusTransport(bundle.bundleIdentifier));
    const int status = platform::runBroadcastHost(argc, argv, bundle);
    platform::setNotifyTransport(nullptr);
    return status;
}
