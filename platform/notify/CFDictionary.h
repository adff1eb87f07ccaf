#pragma once
// A small mutable dictionary with CoreFoundation-style callbacks: entries keep
// insertion order, keys are compared with the key callbacks, and the text of
// each entry comes from the copyDescription callbacks.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CFBase.h"

using CFDictionaryRetainCallBack = const void* (*)(CFAllocatorRef, const void*);
using CFDictionaryReleaseCallBack = void (*)(CFAllocatorRef, const void*);
using CFDictionaryCopyDescriptionCallBack = CFStringRef (*)(const void*);
using CFDictionaryEqualCallBack = bool (*)(const void*, const void*);
using CFDictionaryHashCallBack = uint64_t (*)(const void*);

struct CFDictionaryKeyCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
    CFDictionaryHashCallBack hash;
};
struct CFDictionaryValueCallBacks {
    CFIndex version;
    CFDictionaryRetainCallBack retain;
    CFDictionaryReleaseCallBack release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack equal;
};

struct __CFDictionary;
using CFMutableDictionaryRef = __CFDictionary*;
using CFDictionaryRef = const __CFDictionary*;

// Freed by CFRelease.
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
// Adds the pair when the key is not already present (keys compared with the
// equal callback, or by identity without one).
void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);

// Each entry's key and value descriptions, in insertion order; an object
// without a description callback is described by its address.
std::vector<std::pair<std::string, std::string>> CFDictionaryDescribeEntries(CFDictionaryRef dictionary);

namespace cf::detail {
// Releases the entries with the release callbacks, then frees `dictionary`;
// CFRelease calls it for objects tagged as dictionaries.
void destroyDictionary(CFDictionaryRef dictionary);
}  // namespace cf::detail
