// Posting the broadcast signals: each post is delivered, with the fixed
// one-entry payload, and nothing is merged.

#include <gtest/gtest.h>

#include "signals/BroadcastSignals.h"

namespace {

TEST(BroadcastSignals, EveryPostArrivesWithTheOneEntryPayload) {
    std::vector<platform::Notification> seen;
    auto start = platform::addNotificationObserver("com.sorvane.recordBroadcastStart",
                                                   [&](const platform::Notification& n) { seen.push_back(n); });
    auto end = platform::addNotificationObserver("com.sorvane.recordBroadcastEnd",
                                                 [&](const platform::Notification& n) { seen.push_back(n); });
    postBroadcastSignal(kBroadcastStartSignal);
    postBroadcastSignal(kBroadcastStartSignal);
    postBroadcastSignal(kBroadcastEndSignal);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(seen[1].name, "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(seen[2].name, "com.sorvane.recordBroadcastEnd");
    const NotificationPayload payload{{"TestKey", "TestValue"}};
    for (const auto& n : seen) EXPECT_EQ(n.payload, payload);
}

TEST(BroadcastSignals, SignalNamesAreTheFixedOnes) {
    EXPECT_EQ(CFStringGetText(kBroadcastStartSignal), "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(CFStringGetText(kBroadcastEndSignal), "com.sorvane.recordBroadcastEnd");
    EXPECT_EQ(kBroadcastStartSignal, CFSTR("com.sorvane.recordBroadcastStart")) << "one object per literal";
}

}  // namespace
