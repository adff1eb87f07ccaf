// A separate process that posts through the Darwin notify center the way the
// extension does. Usage: notify_post_helper NAME[=KEY:VALUE]...
// Without "=KEY:VALUE" the payload is the one entry TestKey -> TestValue.
// Exits 2 when there is no session bus.

#include <string>

#include "platform/notify/CFNotificationCenter.h"
#include "platform/notify/DBusNotifyTransport.h"

namespace {

// Dictionary keys and values must outlive the dictionary; these strings do.
struct Text {
    __CFString object;
    std::string storage;
};

}  // namespace

int main(int argc, char** argv) {
    auto transport = platform::makeSessionBusTransport();
    if (!transport) return 2;
    platform::setNotifyTransport(std::move(transport));

    const CFDictionaryKeyCallBacks keyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
    const CFDictionaryValueCallBacks valueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};
    CFNotificationCenterRef center = CFNotificationCenterGetDarwinNotifyCenter();
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        const auto colon = argument.find(':', equals == std::string::npos ? 0 : equals);
        Text name{{}, argument.substr(0, equals)};
        Text key{{}, "TestKey"};
        Text value{{}, "TestValue"};
        if (equals != std::string::npos && colon != std::string::npos) {
            key.storage = argument.substr(equals + 1, colon - equals - 1);
            value.storage = argument.substr(colon + 1);
        }
        for (Text* t : {&name, &key, &value}) t->object.text = t->storage;

        CFMutableDictionaryRef payload = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &keyCallBacks, &valueCallBacks);
        CFDictionaryAddValue(payload, &key.object, &value.object);
        CFNotificationCenterPostNotification(center, &name.object, nullptr, payload, true);
        CFRelease(payload);
    }
    // Destroying the transport writes anything still queued (bounded).
    platform::setNotifyTransport(nullptr);
    return 0;
}
