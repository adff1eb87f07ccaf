// The generic CoreFoundation functions, chosen by the object's type tag.

#include "CFBase.h"

#include <type_traits>

#include "CFDictionary.h"
#include "CFString.h"

static_assert(std::is_standard_layout_v<__CFString>);

namespace {

CFTypeID typeOf(CFTypeRef object) { return static_cast<const __CFRuntimeBase*>(object)->typeID; }

}  // namespace

CFStringRef CFCopyDescription(CFTypeRef object) {
    if (object == nullptr) return nullptr;
    if (typeOf(object) == CFTypeID::Dictionary) return CFSTR("<CFDictionary>");
    // Constant strings are immortal: the description is the string itself
    // and the caller has nothing to release.
    return static_cast<CFStringRef>(object);
}

bool CFEqual(CFTypeRef a, CFTypeRef b) {
    if (a == b) return true;
    if (a == nullptr || b == nullptr || typeOf(a) != CFTypeID::String || typeOf(b) != CFTypeID::String) return false;
    return CFStringGetText(static_cast<CFStringRef>(a)) == CFStringGetText(static_cast<CFStringRef>(b));
}

void CFRelease(CFTypeRef object) {
    if (object != nullptr && typeOf(object) == CFTypeID::Dictionary)
        cf::detail::destroyDictionary(static_cast<CFDictionaryRef>(object));
}
