// The dictionary a post's payload is made of (built as the extension builds
// it): order and text form, and the type tag that keeps CFRelease off
// constant strings.

#include <gtest/gtest.h>

#include "platform/notify/CFNotificationCenter.h"

namespace {

TEST(CFDictionary, KeepsOrderComparesKeysByTextAndNeverFreesConstantStrings) {
  const CFDictionaryKeyCallBacks keys{
      0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
  const CFDictionaryValueCallBacks values{0, nullptr, nullptr,
                                          CFCopyDescription, CFEqual};
  CFMutableDictionaryRef d =
      CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &keys, &values);
  const __CFString sameText{"b"}; // another object with the text of a key
  CFDictionaryAddValue(d, CFSTR("b"), CFSTR("1"));
  CFDictionaryAddValue(d, CFSTR("a"), CFSTR("2"));
  CFDictionaryAddValue(d, &sameText, CFSTR("3")); // not added
  EXPECT_EQ(CFDictionaryDescribeEntries(d),
            (NotificationPayload{{"b", "1"}, {"a", "2"}}));
  EXPECT_EQ(CFCopyDescription(d), CFSTR("<CFDictionary>"));
  EXPECT_FALSE(CFEqual(d, CFSTR("<CFDictionary>")));
  CFRelease(d);
  // Constant strings are never freed (the sanitizer build would see it).
  CFRelease(CFSTR("TestKey"));
  CFRelease(&sameText);
  CFRelease(nullptr);
  EXPECT_TRUE(CFEqual(CFSTR("b"), &sameText));
}

} // namespace
