#pragma once
// What every CoreFoundation object of this platform shares: a type tag at its
// start, so the generic functions below can tell a string from a dictionary.

#include <cstdint>

using CFIndex = long;
using CFTypeRef = const void*;
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum class CFTypeID : uint32_t { String = 0x53545247, Dictionary = 0x44494354 };

// The first member of every object; objects are standard-layout, so a
// pointer to one is a pointer to its tag.
struct __CFRuntimeBase {
    CFTypeID typeID;
};

struct __CFString;
using CFStringRef = const __CFString*;

// A constant string describes itself; a dictionary is "<CFDictionary>".
CFStringRef CFCopyDescription(CFTypeRef object);
// Strings are equal when their texts are; anything else only to itself.
bool CFEqual(CFTypeRef a, CFTypeRef b);
// Frees a dictionary made by CFDictionaryCreateMutable. Constant strings
// live for the whole process, so releasing one, or null, does nothing.
void CFRelease(CFTypeRef object);
