// A separate process that posts each NAME it is given the way the extension
// does (payload TestKey -> TestValue). Usage: notify_post_helper NAME...

#include "platform/notify/DBusNotifyTransport.h"
#include "signals/BroadcastSignals.h"

int main(int argc, char** argv) {
    platform::setNotifyTransport(platform::makeSessionBusTransport());
    for (int i = 1; i < argc; ++i) {
        const __CFString name{argv[i]};
        postBroadcastSignal(&name);
    }
    // Destroying the transport writes what is still queued.
    platform::setNotifyTransport(nullptr);
    return 0;
}
