// A small mutable dictionary with CoreFoundation-style callbacks: entries keep
// insertion order, keys are compared with the key callbacks, and the text of
// each entry is produced by the copyDescription callbacks.

#include <cstdio>
#include <mutex>
#include <unordered_set>

#include "CFDictionaryRegistry.h"
#include "CFNotificationCenter.h"

struct __CFDictionary {
    CFDictionaryKeyCallBacks keyCallBacks{};
    CFDictionaryValueCallBacks valueCallBacks{};
    std::vector<std::pair<const void*, const void*>> entries;
};

namespace {

// Every dictionary that has been created and not yet released. Lets
// CFRelease refuse pointers it does not own (constant strings, stale or
// foreign pointers) instead of freeing them.
struct Registry {
    std::mutex mutex;
    std::unordered_set<const void*> live;
};

Registry& registry() {
    // Never destroyed: dictionaries may be released during static destruction.
    static auto* instance = new Registry;
    return *instance;
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

namespace cf::detail {

bool isLiveDictionary(CFTypeRef object) {
    if (object == nullptr) return false;
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.live.count(object) != 0;
}

bool releaseDictionary(CFTypeRef object) {
    if (object == nullptr) return false;
    auto& r = registry();
    {
        std::lock_guard lock(r.mutex);
        if (r.live.erase(object) == 0) return false;
    }
    // The registry held the only claim on this pointer, so the cast back to
    // the mutable dictionary we allocated is sound.
    auto* dictionary = static_cast<__CFDictionary*>(const_cast<void*>(object));
    for (const auto& [key, value] : dictionary->entries) {
        if (dictionary->keyCallBacks.release != nullptr)
            dictionary->keyCallBacks.release(kCFAllocatorDefault, key);
        if (dictionary->valueCallBacks.release != nullptr)
            dictionary->valueCallBacks.release(kCFAllocatorDefault, value);
    }
    delete dictionary;
    return true;
}

}  // namespace cf::detail

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef /*allocator*/, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    auto* dictionary = new __CFDictionary;
    if (keyCallBacks != nullptr) dictionary->keyCallBacks = *keyCallBacks;
    if (valueCallBacks != nullptr) dictionary->valueCallBacks = *valueCallBacks;
    // The capacity is only a hint; a small one saves reallocations.
    if (capacity > 0 && capacity <= 64) dictionary->entries.reserve(static_cast<size_t>(capacity));
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.live.insert(dictionary);
    return dictionary;
}

void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value) {
    if (!cf::detail::isLiveDictionary(dictionary)) return;
    for (const auto& entry : dictionary->entries)
        if (keysEqual(dictionary->keyCallBacks, entry.first, key)) return;
    if (dictionary->keyCallBacks.retain != nullptr)
        key = dictionary->keyCallBacks.retain(kCFAllocatorDefault, key);
    if (dictionary->valueCallBacks.retain != nullptr)
        value = dictionary->valueCallBacks.retain(kCFAllocatorDefault, value);
    dictionary->entries.emplace_back(key, value);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary) {
    if (!cf::detail::isLiveDictionary(dictionary)) return 0;
    return static_cast<CFIndex>(dictionary->entries.size());
}

NotificationPayload CFDictionaryDescribeEntries(CFDictionaryRef dictionary) {
    NotificationPayload payload;
    if (!cf::detail::isLiveDictionary(dictionary)) return payload;
    payload.reserve(dictionary->entries.size());
    for (const auto& [key, value] : dictionary->entries)
        payload.emplace_back(describe(dictionary->keyCallBacks.copyDescription, key),
                             describe(dictionary->valueCallBacks.copyDescription, value));
    return payload;
}
