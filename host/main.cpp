// broadcast-extension: the platform's process entry prepares the process for
// the extension's bundle, then the host drives its principal class; at the
// end the process entry finishes and the host says what it left undone.

#include "HostMain.h"
#include "extension/ExtensionBundle.h"

int main(int argc, char** argv) {
    const NSExtensionBundle& bundle = NSExtensionMainBundle();
    NSExtensionProcess process(bundle);
    const int status = host::runBroadcastHost(argc, argv, bundle);
    return host::finishBroadcastHost(argc, argv, status, process.finish());
}
