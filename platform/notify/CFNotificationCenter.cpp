#include "CFNotificationCenter.h"

#include <string>

#include "InProcessObservers.h"
#include "NotifyTransport.h"

struct __CFNotificationCenter {};

namespace {
__CFNotificationCenter darwinCenter;
}  // namespace

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter() { return &darwinCenter; }

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void* /*object*/,
                                          CFDictionaryRef userInfo, bool /*deliverImmediately*/) {
    if (center != &darwinCenter || name == nullptr) return;
    const platform::Notification notification{std::string(CFStringGetText(name)),
                                              CFDictionaryDescribeEntries(userInfo)};
    platform::deliverToObservers(notification);
    platform::deliverToOtherProcesses(notification);
}
