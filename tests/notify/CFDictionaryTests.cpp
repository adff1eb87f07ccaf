// The dictionary a post's payload is made of: its callbacks, ownership and
// text form, and the type tag that keeps CFRelease off constant strings.

#include <gtest/gtest.h>

#include "platform/notify/CFNotificationCenter.h"

namespace {

int retained = 0, released = 0;
const void* retain(CFAllocatorRef, const void* object) { return ++retained, object; }
void release(CFAllocatorRef, const void*) { ++released; }

TEST(CFDictionary, KeepsOrderComparesKeysByTextAndReleasesEachEntryOnce) {
    const CFDictionaryKeyCallBacks keys{0, retain, release, CFCopyDescription, CFEqual, nullptr};
    const CFDictionaryValueCallBacks values{0, retain, release, CFCopyDescription, CFEqual};
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &keys, &values);
    const __CFString sameText{"b"};  // another object with the text of a key
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));
    CFDictionaryAddValue(d, &sameText, CFSTR("3"));  // not added, nothing retained
    EXPECT_EQ(CFDictionaryDescribeEntries(d), (NotificationPayload{{"b", "1"}, {"a", "2"}}));
    EXPECT_EQ(retained, 4);
    EXPECT_EQ(CFCopyDescription(d), CFSTR("<CFDictionary>"));
    EXPECT_FALSE(CFEqual(d, CFSTR("<CFDictionary>")));
    CFRelease(d);
    EXPECT_EQ(released, 4);
    // Constant strings are never freed (the sanitizer build would see it).
    CFRelease(CFSTR("TestKey"));
    CFRelease(&sameText);
    CFRelease(nullptr);
    EXPECT_TRUE(CFEqual(CFSTR("b"), &sameText));

    // Without callbacks, keys compare by identity and describe as addresses.
    d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr);
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("1"));
    CFDictionaryAddValue(d, &sameText, CFSTR("2"));
    const auto entries = CFDictionaryDescribeEntries(d);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first.front(), '<');
    CFRelease(d);
}

}  // namespace
