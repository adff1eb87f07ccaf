// A separate process that posts through the Darwin notify center the way the
// extension does. Usage: notify_post_helper NAME[=KEY:VALUE]...
// Without "=KEY:VALUE" the payload is the one entry TestKey -> TestValue.

#include <string>

#include "platform/notify/CFNotificationCenter.h"
#include "platform/notify/DBusNotifyTransport.h"

int main(int argc, char** argv) {
    platform::setNotifyTransport(platform::makeSessionBusTransport());

    const CFDictionaryKeyCallBacks keyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
    const CFDictionaryValueCallBacks valueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        const auto colon = argument.find(':', equals == std::string::npos ? 0 : equals);
        const bool custom = equals != std::string::npos && colon != std::string::npos;
        // The strings refer to their text, which must outlive the post.
        const std::string nameText = argument.substr(0, equals);
        const std::string keyText = custom ? argument.substr(equals + 1, colon - equals - 1) : "TestKey";
        const std::string valueText = custom ? argument.substr(colon + 1) : "TestValue";
        __CFString name{nameText}, key{keyText}, value{valueText};
        CFMutableDictionaryRef payload = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &keyCallBacks, &valueCallBacks);
        CFDictionaryAddValue(payload, &key, &value);
        CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), &name, nullptr, payload, true);
        CFRelease(payload);
    }
    // Destroying the transport writes anything still queued (bounded).
    platform::setNotifyTransport(nullptr);
    return 0;
}
