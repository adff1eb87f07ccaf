#pragma once
// The system-wide (Darwin) notify center: a post reaches the observers of its
// name in this process (InProcessObservers.h, how one observes the center),
// then other processes through the installed transport (NotifyTransport.h).

#include "CFDictionary.h"
#include "CFString.h"
#include "InProcessObservers.h"

struct __CFNotificationCenter;
using CFNotificationCenterRef = __CFNotificationCenter*;

// The one system-wide center shared by all processes.
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();

// Posts `name` with the text of `userInfo`'s entries as its payload. The
// Darwin center ignores the object and always delivers immediately. Never
// blocks for long and reports nothing.
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name, const void* object,
                                          CFDictionaryRef userInfo, bool deliverImmediately);
