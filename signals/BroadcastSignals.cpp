#include "BroadcastSignals.h"

void postBroadcastSignal(CFStringRef name) {
    CFNotificationCenterRef center = CFNotificationCenterGetDarwinNotifyCenter();

    // Keys and values are constant strings: no retain or release, described
    // and compared by the string functions, keys hashed by identity.
    const CFDictionaryKeyCallBacks keyCallBacks = {0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
    const CFDictionaryValueCallBacks valueCallBacks = {0, nullptr, nullptr, CFCopyDescription, CFEqual};
    CFMutableDictionaryRef userInfo = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &keyCallBacks, &valueCallBacks);
    CFDictionaryAddValue(userInfo, CFSTR("TestKey"), CFSTR("TestValue"));

    CFNotificationCenterPostNotification(center, name, nullptr, userInfo, true);
    CFRelease(userInfo);
}
