#include <csignal>

#include "../files/NSFileManager.h"
#include "../log/NSLog.h"
#include "../notify/DBusNotifyTransport.h"
#include "NSExtension.h"

NSExtensionProcess::NSExtensionProcess(const NSExtensionBundle& bundle) {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    platform::setLogProcessName(bundle.bundleName);
    platform::setEntitledApplicationGroups(bundle.applicationGroups);
    platform::setNotifyTransport(platform::makeSessionBusTransport(bundle.bundleIdentifier));
}

NSExtensionProcess::~NSExtensionProcess() { finish(); }

platform::UndeliveredPosts NSExtensionProcess::finish() { return platform::finishNotifyTransport(); }
