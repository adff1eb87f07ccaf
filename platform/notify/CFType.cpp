// The generic CoreFoundation functions over the two kinds of object this
// platform has: immortal constant strings and dictionaries.

#include "CFDictionaryRegistry.h"
#include "CFNotificationCenter.h"

std::string_view CFStringGetText(CFStringRef string) {
    return string != nullptr ? string->text : std::string_view{};
}

CFStringRef CFCopyDescription(CFTypeRef object) {
    if (object == nullptr) return nullptr;
    if (cf::detail::isLiveDictionary(object)) return CFSTR("<CFDictionary>");
    // Constant strings are immortal, so the description is the string itself
    // and the caller has nothing to release.
    return static_cast<CFStringRef>(object);
}

bool CFEqual(CFTypeRef a, CFTypeRef b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    // Dictionaries are equal only to themselves.
    if (cf::detail::isLiveDictionary(a) || cf::detail::isLiveDictionary(b)) return false;
    return CFStringGetText(static_cast<CFStringRef>(a)) == CFStringGetText(static_cast<CFStringRef>(b));
}

void CFRelease(CFTypeRef object) {
    // Constant strings live for the whole process; releasing one, or null,
    // does nothing.
    cf::detail::releaseDictionary(object);
}
