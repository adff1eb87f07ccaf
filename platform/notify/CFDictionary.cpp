#include "CFDictionary.h"

#include <cstdio>
#include <type_traits>

#include "CFString.h"

struct __CFDictionary {
    __CFRuntimeBase base{CFTypeID::Dictionary};
    CFDictionaryKeyCallBacks keyCallBacks{};
    CFDictionaryValueCallBacks valueCallBacks{};
    std::vector<std::pair<const void*, const void*>> entries;
};
static_assert(std::is_standard_layout_v<__CFDictionary>);

namespace {

bool isDictionary(CFDictionaryRef dictionary) {
    return dictionary != nullptr && dictionary->base.typeID == CFTypeID::Dictionary;
}

bool keysEqual(const CFDictionaryKeyCallBacks& callBacks, const void* a, const void* b) {
    if (a == b) return true;
    if (callBacks.hash != nullptr && callBacks.hash(a) != callBacks.hash(b)) return false;
    return callBacks.equal != nullptr && callBacks.equal(a, b);
}

std::string describe(CFDictionaryCopyDescriptionCallBack copyDescription, const void* object) {
    CFStringRef description = copyDescription != nullptr ? copyDescription(object) : nullptr;
    if (description != nullptr) return std::string(CFStringGetText(description));
    char text[32];
    std::snprintf(text, sizeof text, "<%p>", object);
    return text;
}

}  // namespace

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef /*allocator*/, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    auto* dictionary = new __CFDictionary;
    if (keyCallBacks != nullptr) dictionary->keyCallBacks = *keyCallBacks;
    if (valueCallBacks != nullptr) dictionary->valueCallBacks = *valueCallBacks;
    // The capacity is only a hint; a small one saves reallocations.
    if (capacity > 0 && capacity <= 64) dictionary->entries.reserve(static_cast<size_t>(capacity));
    return dictionary;
}

void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
    if (!isDictionary(dictionary)) return;
    for (const auto& entry : dictionary->entries)
        if (keysEqual(dictionary->keyCallBacks, entry.first, key)) return;
    if (dictionary->keyCallBacks.retain != nullptr) key = dictionary->keyCallBacks.retain(kCFAllocatorDefault, key);
    if (dictionary->valueCallBacks.retain != nullptr)
        value = dictionary->valueCallBacks.retain(kCFAllocatorDefault, value);
    dictionary->entries.emplace_back(key, value);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) {
    return isDictionary(dictionary) ? static_cast<CFIndex>(dictionary->entries.size()) : 0;
}

std::vector<std::pair<std::string, std::string>> CFDictionaryDescribeEntries(CFDictionaryRef dictionary) {
    std::vector<std::pair<std::string, std::string>> described;
    if (!isDictionary(dictionary)) return described;
    described.reserve(dictionary->entries.size());
    for (const auto& [key, value] : dictionary->entries)
        described.emplace_back(describe(dictionary->keyCallBacks.copyDescription, key),
                               describe(dictionary->valueCallBacks.copyDescription, value));
    return described;
}

namespace cf::detail {

void destroyDictionary(CFDictionaryRef dictionary) {
    for (const auto& [key, value] : dictionary->entries) {
        if (dictionary->keyCallBacks.release != nullptr) dictionary->keyCallBacks.release(kCFAllocatorDefault, key);
        if (dictionary->valueCallBacks.release != nullptr)
            dictionary->valueCallBacks.release(kCFAllocatorDefault, value);
    }
    // Made mutable by CFDictionaryCreateMutable; only CFRelease ends it.
    delete const_cast<__CFDictionary*>(dictionary);
}

}  // namespace cf::detail
