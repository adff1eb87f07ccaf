// The CoreFoundation pieces a post is made of: constant strings, and the
// dictionary with its callbacks, ownership and text form.

#include <gtest/gtest.h>

#include "platform/notify/CFNotificationCenter.h"

namespace {

const CFDictionaryKeyCallBacks kKeyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
const CFDictionaryValueCallBacks kValueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};

TEST(CFString, ConstantsAreOneObjectPerTextAndCompareByText) {
    EXPECT_EQ(CFSTR("TestKey"), CFSTR("TestKey"));
    EXPECT_EQ(CFCopyDescription(CFSTR("TestKey")), CFSTR("TestKey"));
    EXPECT_EQ(CFStringGetText(nullptr), "");
    __CFString sameText{"TestKey"};
    EXPECT_TRUE(CFEqual(CFSTR("TestKey"), &sameText));
    EXPECT_FALSE(CFEqual(CFSTR("TestKey"), CFSTR("TestValue")));
    EXPECT_FALSE(CFEqual(CFSTR("TestKey"), nullptr));
}

TEST(CFDictionary, KeepsInsertionOrderAndIgnoresAnExistingKey) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kKeyCallBacks, &kValueCallBacks);
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));
    __CFString equalKey{"b"};  // a different object with the same text
    CFDictionaryAddValue(d, &equalKey, CFSTR("3"));
    EXPECT_EQ(CFDictionaryDescribeEntries(d), (NotificationPayload{{"b", "1"}, {"a", "2"}}));
    EXPECT_FALSE(CFEqual(d, CFSTR("<CFDictionary>")));
    CFRelease(d);
}

TEST(CFDictionary, WithoutCallBacksKeysCompareByIdentityAndDescribeAsPointers) {
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, nullptr);
    __CFString first{"k"}, second{"k"};
    CFDictionaryAddValue(d, &first, CFSTR("v"));
    CFDictionaryAddValue(d, &second, CFSTR("v"));
    CFDictionaryAddValue(d, &first, CFSTR("again"));
    const auto entries = CFDictionaryDescribeEntries(d);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_NE(entries[0].first, entries[1].first);
    EXPECT_EQ(entries[0].first.front(), '<');
    CFRelease(d);
}

TEST(CFDictionary, RetainsOnAddReleasesOnceAndToleratesNull) {
    static int retained = 0, released = 0;
    const auto retain = [](CFAllocatorRef, const void* p) { ++retained; return p; };
    const auto release = [](CFAllocatorRef, const void*) { ++released; };
    const CFDictionaryKeyCallBacks keys{0, retain, release, CFCopyDescription, CFEqual, nullptr};
    const CFDictionaryValueCallBacks values{0, retain, release, CFCopyDescription, CFEqual};
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &keys, &values);
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("1"));
    CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));  // not added: nothing retained
    CFDictionaryAddValue(d, CFSTR("b"), CFSTR("3"));
    EXPECT_EQ(retained, 4);
    CFRelease(d);
    CFRelease(d);  // a second release frees nothing again
    EXPECT_EQ(released, 4);
    CFDictionaryAddValue(d, CFSTR("c"), CFSTR("4"));
    EXPECT_EQ(CFDictionaryGetCount(d), 0);

    CFRelease(nullptr);
    CFRelease(CFSTR("TestKey"));
    EXPECT_EQ(CFStringGetText(CFSTR("TestKey")), "TestKey");
    CFDictionaryAddValue(nullptr, CFSTR("a"), CFSTR("1"));
    EXPECT_TRUE(CFDictionaryDescribeEntries(nullptr).empty());
}

}  // namespace
