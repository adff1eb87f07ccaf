// broadcast-extension: the platform's process entry prepares the process for
// the extension's bundle, then the host drives its principal class.

#include "HostMain.h"
#include "extension/ExtensionBundle.h"

int main(int argc, char** argv) {
    const NSExtensionBundle& bundle = NSExtensionMainBundle();
    const NSExtensionProcess process(bundle);
    return host::runBroadcastHost(argc, argv, bundle);
}
