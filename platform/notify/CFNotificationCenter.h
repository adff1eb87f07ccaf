#pragma once
// The system-wide (Darwin) notify center and the few CoreFoundation types a
// post uses: constant strings and a mutable dictionary with callbacks.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using CFIndex = long;
using CFTypeRef = const void*;

// Constant strings: CFSTR("text") names one immortal object per literal.
struct __CFString {
    std::string_view text;
};
using CFStringRef = const __CFString*;

namespace cf {
template <size_t N>
struct Literal {
    char chars[N]{};
    constexpr Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) chars[i] = s[i];
    }
};
template <Literal L>
inline constexpr __CFString constantString{std::string_view(L.chars, sizeof(L.chars) - 1)};
}  // namespace cf
#define CFSTR(literal) (&::cf::constantString<::cf::Literal(literal)>)

std::string_view CFStringGetText(CFStringRef string);

using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

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

// Description of a constant string (itself) and equality of two of them.
CFStringRef CFCopyDescription(CFTypeRef object);
bool CFEqual(CFTypeRef a, CFTypeRef b);

struct __CFDictionary;
using CFMutableDictionaryRef = __CFDictionary*;
using CFDictionaryRef = const __CFDictionary*;

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
// Adds the pair when the key is not already present (keys compared with the
// equal callback, or by identity without one).
void CFDictionaryAddValue(CFMutableDictionaryRef dictionary, const void* key, const void* value);
CFIndex CFDictionaryGetCount(CFDictionaryRef dictionary);
// Releases a dictionary made by CFDictionaryCreateMutable; null does nothing.
void CFRelease(CFTypeRef object);

// The text form of a payload: each entry's key and value descriptions.
using NotificationPayload = std::vector<std::pair<std::string, std::string>>;
NotificationPayload CFDictionaryDescribeEntries(CFDictionaryRef dictionary);

struct __CFNotificationCenter;
using CFNotificationCenterRef = __CFNotificationCenter*;

// The one system-wide center shared by all processes.
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();

// Posts `name` to every observer of it: observers in this process first,
// then other processes through the system-wide transport when one is set.
// Never blocks for long and reports nothing.
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          bool deliverImmediately);

namespace platform {

// A post as observers receive it.
struct Notification {
    std::string name;
    NotificationPayload payload;
};

using NotificationObserver = std::function<void(const Notification&)>;

// Registers an in-process observer of `name`; the returned token removes it
// when destroyed.
class ObserverToken {
public:
    ObserverToken() = default;
    explicit ObserverToken(uint64_t id) : id_(id) {}
    ObserverToken(ObserverToken&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ~ObserverToken();

private:
    uint64_t id_ = 0;
};
[[nodiscard]] ObserverToken addNotificationObserver(std::string_view name,
                                                    NotificationObserver observer);

// Carries posts to other processes (the session bus).
class NotifyTransport {
public:
    virtual ~NotifyTransport() = default;
    virtual void post(const Notification& notification) = 0;
};
// Installs the system-wide transport; none keeps posts in this process.
// Returns the previous one.
std::unique_ptr<NotifyTransport> setNotifyTransport(std::unique_ptr<NotifyTransport> transport);

}  // namespace platform
