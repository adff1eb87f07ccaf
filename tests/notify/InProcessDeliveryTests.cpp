// Posts reach observers in this process synchronously, in registration
// order, with the payload's text, and observers may come and go during a post.

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify/CFNotificationCenter.h"

namespace {

using platform::Notification;

const CFDictionaryKeyCallBacks kKeyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
const CFDictionaryValueCallBacks kValueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};

void postWithTestPayload(CFStringRef name) {
    CFMutableDictionaryRef payload = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &kKeyCallBacks, &kValueCallBacks);
    CFDictionaryAddValue(payload, CFSTR("TestKey"), CFSTR("TestValue"));
    CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), name, nullptr, payload, true);
    CFRelease(payload);
}

// Records each post a transport is given.
class RecordingTransport : public platform::NotifyTransport {
public:
    explicit RecordingTransport(std::vector<std::string>& log) : log_(log) {}
    void post(const Notification& n) override { log_.push_back("transport:" + n.name); }

private:
    std::vector<std::string>& log_;
};

TEST(InProcessDelivery, ObserversOfTheNameGetNameAndPayloadInRegistrationOrder) {
    std::vector<std::string> calls;
    std::optional<Notification> seen;
    auto first = platform::addNotificationObserver("com.sorvane.recordBroadcastStart", [&](const Notification& n) {
        calls.push_back("first");
        seen = n;
    });
    auto other = platform::addNotificationObserver("com.sorvane.recordBroadcastEnd",
                                                   [&](const Notification&) { calls.push_back("other name"); });
    auto second = platform::addNotificationObserver("com.sorvane.recordBroadcastStart",
                                                    [&](const Notification&) { calls.push_back("second"); });

    postWithTestPayload(CFSTR("com.sorvane.recordBroadcastStart"));

    EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->name, "com.sorvane.recordBroadcastStart");
    EXPECT_EQ(seen->payload, (NotificationPayload{{"TestKey", "TestValue"}}));
}

TEST(InProcessDelivery, PostWithoutPayloadOrCenterIsHandled) {
    int calls = 0;
    auto token = platform::addNotificationObserver("n", [&](const Notification& n) {
        ++calls;
        EXPECT_TRUE(n.payload.empty());
    });
    CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), CFSTR("n"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(nullptr, CFSTR("n"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), nullptr, nullptr, nullptr, true);
    EXPECT_EQ(calls, 1);
}

TEST(InProcessDelivery, TokenRemovesObserverAndMovesOwnership) {
    int calls = 0;
    platform::ObserverToken kept;
    {
        auto token = platform::addNotificationObserver("n", [&](const Notification&) { ++calls; });
        kept = std::move(token);
    }
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(calls, 1);
    kept = platform::ObserverToken{};
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(calls, 1);
}

TEST(InProcessDelivery, ObserverMayRemoveItselfDuringItsCall) {
    int calls = 0;
    std::optional<platform::ObserverToken> token;
    token = platform::addNotificationObserver("n", [&](const Notification&) {
        ++calls;
        token.reset();
    });
    postWithTestPayload(CFSTR("n"));
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(calls, 1);
}

TEST(InProcessDelivery, ObserverRemovedByAnEarlierOneIsNotCalledForThatPost) {
    std::vector<std::string> calls;
    std::optional<platform::ObserverToken> later;
    auto first = platform::addNotificationObserver("n", [&](const Notification&) {
        calls.push_back("first");
        later.reset();
    });
    later = platform::addNotificationObserver("n", [&](const Notification&) { calls.push_back("later"); });
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(calls, (std::vector<std::string>{"first"}));
}

TEST(InProcessDelivery, ObserverAddedDuringAPostSeesOnlyLaterPosts) {
    int added = 0;
    std::vector<platform::ObserverToken> tokens;
    tokens.push_back(platform::addNotificationObserver("n", [&](const Notification&) {
        tokens.push_back(platform::addNotificationObserver("n", [&](const Notification&) { ++added; }));
    }));
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(added, 0);
    postWithTestPayload(CFSTR("n"));
    EXPECT_EQ(added, 1);
}

TEST(InProcessDelivery, ObserverThatThrowsDoesNotStopTheOthers) {
    int calls = 0;
    auto thrower = platform::addNotificationObserver("n", [](const Notification&) { throw std::runtime_error("boom"); });
    auto counter = platform::addNotificationObserver("n", [&](const Notification&) { ++calls; });
    testing::internal::CaptureStderr();
    postWithTestPayload(CFSTR("n"));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(diagnostics.rfind("notify: ", 0), 0u) << diagnostics;
}

TEST(InProcessDelivery, TransportGetsThePostAfterInProcessObservers) {
    std::vector<std::string> log;
    auto token = platform::addNotificationObserver("n", [&](const Notification& n) { log.push_back("observer:" + n.name); });
    auto previous = platform::setNotifyTransport(std::make_unique<RecordingTransport>(log));
    postWithTestPayload(CFSTR("n"));
    postWithTestPayload(CFSTR("unobserved"));
    auto mine = platform::setNotifyTransport(std::move(previous));
    postWithTestPayload(CFSTR("n"));
    EXPECT_NE(mine, nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"observer:n", "transport:n", "transport:unobserved", "observer:n"}));
}

// Removing an observer while another thread is inside it must wait for that
// call to end: afterwards the observer's captures may be gone.
TEST(InProcessDelivery, RemovalWaitsForACallRunningOnAnotherThread) {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> removed{false};
    std::atomic<bool> removedWhileRunning{false};
    std::optional<platform::ObserverToken> token = platform::addNotificationObserver("n", [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::yield();
        if (removed) removedWhileRunning = true;
    });
    std::thread poster([] { postWithTestPayload(CFSTR("n")); });
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
    EXPECT_TRUE(removed);
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
                postWithTestPayload(CFSTR("busy"));
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(calls, 800);
}

}  // namespace
