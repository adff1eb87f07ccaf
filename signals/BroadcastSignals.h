#pragma once
// The two system-wide signals that tell the containing app about a broadcast.

#include "platform/notify/CFNotificationCenter.h"

// Posted when a broadcast starts, before the recorder is reset.
#define kBroadcastStartSignal CFSTR("com.sorvane.recordBroadcastStart")
// Posted when the recording has been handed over (or the hand-over tried).
#define kBroadcastEndSignal CFSTR("com.sorvane.recordBroadcastEnd")

// Posts `name` on the system-wide notify center with the fixed one-entry
// payload "TestKey" -> "TestValue".
void postBroadcastSignal(CFStringRef name);
