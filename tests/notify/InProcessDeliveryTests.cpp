// Posts reach observers in this process synchronously, in registration
// order, with the payload's text, and observers may come and go during a post.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace {

using platform::Notification;
using platform::ObserverToken;
using notifytest::post;
using Log = std::vector<std::string>;

ObserverToken logging(const char* name, Log& log, const std::string& entry) {
    return platform::addNotificationObserver(name, [&log, entry](const Notification&) { log.push_back(entry); });
}

TEST(InProcessDelivery, ObserversOfTheNameGetNameAndPayloadInRegistrationOrder) {
    Log calls;
    std::vector<Notification> seen;
    auto first = platform::addNotificationObserver("com.sorvane.recordBroadcastStart", [&](const Notification& n) {
        calls.push_back("first");
        seen.push_back(n);
    });
    auto other = logging("com.sorvane.recordBroadcastEnd", calls, "other name");
    auto second = logging("com.sorvane.recordBroadcastStart", calls, "second");
    post(CFSTR("com.sorvane.recordBroadcastStart"));
    // Without a payload, a center or a name: delivered, ignored, ignored.
    CFNotificationCenterRef center = CFNotificationCenterGetDarwinNotifyCenter();
    CFNotificationCenterPostNotification(center, CFSTR("com.sorvane.recordBroadcastStart"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(nullptr, CFSTR("com.sorvane.recordBroadcastStart"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(center, nullptr, nullptr, nullptr, true);

    EXPECT_EQ(calls, (Log{"first", "second", "first", "second"}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].name, "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(seen[0].payload, (NotificationPayload{{"TestKey", "TestValue"}}));
    EXPECT_TRUE(seen[1].payload.empty());
}

TEST(InProcessDelivery, ObserversComeAndGoSafelyDuringAPost) {
    Log calls;
    ObserverToken moved;
    {
        auto token = logging("n", calls, "moved");
        moved = std::move(token);  // the moved-from token removes nothing
    }
    std::optional<ObserverToken> self, later;
    std::vector<ObserverToken> added;
    self = platform::addNotificationObserver("n", [&](const Notification&) {
        calls.push_back("self");
        later.reset();  // removes a later observer before it is called
        added.push_back(logging("n", calls, "added"));  // sees later posts only
        self.reset();   // and itself, during its own call
    });
    later = logging("n", calls, "later");
    testing::internal::CaptureStderr();
    post(CFSTR("n"));
    moved = ObserverToken{};
    post(CFSTR("n"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no removed observer may be called";
    EXPECT_EQ(calls, (Log{"moved", "self", "added"}));
}

TEST(InProcessDelivery, ObserverThatThrowsDoesNotStopTheOthers) {
    Log calls;
    auto thrower = platform::addNotificationObserver("n", [](const Notification&) { throw std::runtime_error("boom"); });
    auto counter = logging("n", calls, "after");
    testing::internal::CaptureStderr();
    post(CFSTR("n"));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, Log{"after"});
    EXPECT_EQ(diagnostics.rfind("notify: ", 0), 0u) << diagnostics;
}

TEST(InProcessDelivery, TransportGetsThePostAfterInProcessObservers) {
    struct Recording : platform::NotifyTransport {
        explicit Recording(Log& l) : log(l) {}
        void post(const Notification& n) override { log.push_back("transport:" + n.name); }
        Log& log;
    };
    Log log;
    auto token = logging("n", log, "observer");
    auto previous = platform::setNotifyTransport(std::make_unique<Recording>(log));
    post(CFSTR("n"));
    post(CFSTR("unobserved"));
    EXPECT_NE(platform::setNotifyTransport(std::move(previous)), nullptr);
    post(CFSTR("n"));
    EXPECT_EQ(log, (Log{"observer", "transport:n", "transport:unobserved", "observer"}));
}

// Removing an observer while another thread is inside it must wait for that
// call to end: afterwards the observer's captures may be gone.
TEST(InProcessDelivery, RemovalWaitsForACallRunningOnAnotherThread) {
    std::atomic<bool> entered{false}, release{false}, removed{false}, removedWhileRunning{false};
    std::optional<ObserverToken> token = platform::addNotificationObserver("n", [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::yield();
        if (removed) removedWhileRunning = true;
    });
    std::thread poster([] { post(CFSTR("n")); });
    while (!entered) std::this_thread::yield();
    std::thread remover([&] {
        token.reset();
        removed = true;
    });
    // Give the remover time to reach the wait; the outcome does not depend on it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(removed);
    release = true;
    poster.join();
    remover.join();
    EXPECT_FALSE(removedWhileRunning);
}

TEST(InProcessDelivery, ConcurrentPostsAndRegistrationsFromManyThreads) {
    std::atomic<int> calls{0};
    auto steady = platform::addNotificationObserver("busy", [&](const Notification&) { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                auto churn = platform::addNotificationObserver("busy", [](const Notification&) {});
                post(CFSTR("busy"));
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(calls, 800);
}

}  // namespace
