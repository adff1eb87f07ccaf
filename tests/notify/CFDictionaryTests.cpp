// The CoreFoundation pieces a post is made of: constant strings, the
// dictionary with callbacks, and the text form of its entries.

#include <gtest/gtest.h>

#include <string>

#include "platform/notify/CFNotificationCenter.h"

namespace {

const CFDictionaryKeyCallBacks kKeyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
const CFDictionaryValueCallBacks kValueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};

TEST(CFString, ConstantStringsAreOneObjectPerTextAndDescribeThemselves) {
    EXPECT_EQ(CFSTR("TestKey"), CFSTR("TestKey"));
    EXPECT_EQ(CFStringGetText(CFSTR("TestKey")), "TestKey");
    EXPECT_EQ(CFCopyDescription(CFSTR("TestKey")), CFSTR("TestKey"));
    EXPECT_EQ(CFStringGetText(CFSTR("")), "");
    EXPECT_EQ(CFStringGetText(nullptr), "");
    EXPECT_EQ(CFCopyDescription(nullptr), nullptr);
}

TEST(CFString, EqualComparesTextNotIdentity) {
    __CFString sameText{"TestKey"};
    EXPECT_TRUE(CFEqual(CFSTR("TestKey"), &sameText));
    EXPECT_FALSE(CFEqual(CFSTR("TestKey"), CFSTR("TestValue")));
    EXPECT_FALSE(CFEqual(CFSTR("TestKey"), nullptr));
    EXPECT_TRUE(CFEqual(nullptr, nullptr));
}

TEST(CFDictionary, PayloadAsTheExtensionBuildsIt) {
    CFMutableDictionaryRef payload = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &kKeyCallBacks, &kValueCallBacks);
    CFDictionaryAddValue(payload, CFSTR("TestKey"), CFSTR("TestValue"));
    EXPECT_EQ(CFDictionaryGetCount(payload), 1);
    EXPECT_EQ(CFDictionaryDescribeEntries(payload), (NotificationPayload{{"TestKey", "TestValue"}}));
    CFRelease(payload);
}

TEST(CFDictionary, KeepsInsertionOrderAndIgnoresAnExistingKey) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kKeyCallBacks, &kValueCallBacks);
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));
    __CFString equalKey{"b"};  // a different object with the same text
    CFDictionaryAddValue(d, &equalKey, CFSTR("3"));
    EXPECT_EQ(CFDictionaryDescribeEntries(d), (NotificationPayload{{"b", "1"}, {"a", "2"}}));
    CFRelease(d);
}

TEST(CFDictionary, WithoutCallBacksKeysCompareByIdentityAndDescribeAsPointers) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr);
    __CFString first{"k"};
    __CFString second{"k"};
    CFDictionaryAddValue(d, &first, CFSTR("v"));
    CFDictionaryAddValue(d, &second, CFSTR("v"));
    CFDictionaryAddValue(d, &first, CFSTR("again"));
    ASSERT_EQ(CFDictionaryGetCount(d), 2);
    const auto entries = CFDictionaryDescribeEntries(d);
    EXPECT_NE(entries[0].first, entries[1].first);
    for (const auto& [key, value] : entries) {
        EXPECT_EQ(key.front(), '<');
        EXPECT_EQ(key.back(), '>');
        EXPECT_EQ(value.front(), '<');
    }
    CFRelease(d);
}

TEST(CFDictionary, HashCallBackSeparatesKeysBeforeEqualIsAsked) {
    static int equalCalls = 0;
    equalCalls = 0;
    const CFDictionaryKeyCallBacks hashed{
        0, nullptr, nullptr, CFCopyDescription,
        [](const void* a, const void* b) { ++equalCalls; return CFEqual(a, b); },
        [](const void* key) -> uint64_t { return CFStringGetText(static_cast<CFStringRef>(key)).size(); }};
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &hashed, &kValueCallBacks);
    CFDictionaryAddValue(d, CFSTR("short"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("longer key"), CFSTR("2"));
    EXPECT_EQ(equalCalls, 0);
    __CFString same{"short"};
    CFDictionaryAddValue(d, &same, CFSTR("3"));
    EXPECT_EQ(CFDictionaryGetCount(d), 2);
    CFRelease(d);
}

TEST(CFDictionary, RetainsOnAddAndReleasesEachEntryOnRelease) {
    static int retained = 0;
    static int released = 0;
    retained = released = 0;
    const CFDictionaryKeyCallBacks keys{0, [](CFAllocatorRef, const void* p) { ++retained; return p; },
                                        [](CFAllocatorRef, const void*) { ++released; }, CFCopyDescription,
                                        CFEqual, nullptr};
    const CFDictionaryValueCallBacks values{0, [](CFAllocatorRef, const void* p) { ++retained; return p; },
                                            [](CFAllocatorRef, const void*) { ++released; }, CFCopyDescription,
                                            CFEqual};
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &keys, &values);
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));  // not added: nothing retained
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("3"));
    EXPECT_EQ(retained, 4);
    CFRelease(d);
    EXPECT_EQ(released, 4);
}

TEST(CFRelease, IgnoresNullConstantStringsAndDictionariesAlreadyReleased) {
    CFRelease(nullptr);
    CFRelease(CFSTR("TestKey"));
    EXPECT_EQ(CFStringGetText(CFSTR("TestKey")), "TestKey");

    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kKeyCallBacks, &kValueCallBacks);
    CFRelease(d);
    CFRelease(d);  // a second release must not free again
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("1"));
    EXPECT_EQ(CFDictionaryGetCount(d), 0);
    EXPECT_TRUE(CFDictionaryDescribeEntries(d).empty());
}

TEST(CFDictionary, NullDictionaryHasNoEntries) {
    EXPECT_EQ(CFDictionaryGetCount(nullptr), 0);
    EXPECT_TRUE(CFDictionaryDescribeEntries(nullptr).empty());
    CFDictionaryAddValue(nullptr, CFSTR("a"), CFSTR("1"));
}

TEST(CFDictionary, IsDescribedButNeverEqualToAString) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kKeyCallBacks, &kValueCallBacks);
    EXPECT_EQ(CFStringGetText(CFCopyDescription(d)), "<CFDictionary>");
    EXPECT_FALSE(CFEqual(d, CFSTR("<CFDictionary>")));
    EXPECT_TRUE(CFEqual(d, d));
    CFRelease(d);
}

}  // namespace
