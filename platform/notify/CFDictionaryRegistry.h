#pragma once
// Internal to the notify library: which pointers are live dictionaries, so the
// generic CF functions (CFRelease, CFCopyDescription, CFEqual) can tell a
// dictionary from a constant string without dereferencing either.

#include "CFNotificationCenter.h"

namespace cf::detail {

// True while `object` is a dictionary made by CFDictionaryCreateMutable and
// not yet released.
bool isLiveDictionary(CFTypeRef object);

// Frees `object` when it is a live dictionary; returns false (and does
// nothing) for anything else, including a dictionary already released.
bool releaseDictionary(CFTypeRef object);

}  // namespace cf::detail
