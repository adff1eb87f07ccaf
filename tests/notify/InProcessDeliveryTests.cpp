// Posts reach observers in this process synchronously, in registration
// order, with the payload's text, then the transport; observers may come and
// go during a post, and one that throws stops no other.

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/notify/NotifyTransport.h"
#include "signals/BroadcastSignals.h"

namespace {

using platform::Notification;
using platform::ObserverToken;
using Log = std::vector<std::string>;

ObserverToken logging(const char* name, Log& log, const std::string& entry) {
    return platform::addNotificationObserver(name, [&log, entry](const Notification& n) {
        log.push_back(entry + (n.payload.empty() ? "" : ":" + n.payload.at(0).second));
    });
}

TEST(InProcessDelivery, ObserversOfTheNameInRegistrationOrderThenTheTransport) {
    struct Recording : platform::NotifyTransport {
        explicit Recording(Log& l) : log(l) {}
        void post(const Notification& n) override { log.push_back("transport:" + n.name); }
        Log& log;
    };
    Log log;
    auto first = logging("n", log, "first");
    auto thrower =
        platform::addNotificationObserver("n", [](const Notification&) { throw std::runtime_error("boom"); });
    auto other = logging("other", log, "other name");
    auto second = logging("n", log, "second");
    auto previous = platform::setNotifyTransport(std::make_unique<Recording>(log));
    testing::internal::CaptureStderr();
    postBroadcastSignal(CFSTR("n"));
    // Without a payload: delivered; without the center or a name: ignored.
    CFNotificationCenterRef center = CFNotificationCenterGetDarwinNotifyCenter();
    CFNotificationCenterPostNotification(center, CFSTR("n"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(nullptr, CFSTR("n"), nullptr, nullptr, true);
    CFNotificationCenterPostNotification(center, nullptr, nullptr, nullptr, true);
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    platform::setNotifyTransport(std::move(previous));
    EXPECT_EQ(log, (Log{"first:TestValue", "second:TestValue", "transport:n", "first", "second", "transport:n"}));
    EXPECT_EQ(diagnostics.rfind("notify: an observer of n threw: boom\n", 0), 0u) << diagnostics;
}

// Observers added and removed during a post; true when the calls were as they should be.
bool observersComeAndGo() {
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
        later.reset();                                  // removes a later observer before it is called
        added.push_back(logging("n", calls, "added"));  // sees later posts only
        self.reset();                                   // and itself, during its own call
    });
    later = logging("n", calls, "later");
    postBroadcastSignal(CFSTR("n"));
    moved = ObserverToken{};
    postBroadcastSignal(CFSTR("n"));
    return calls == Log{"moved:TestValue", "self", "added:TestValue"};
}

// In a process of its own, whose standard error stays empty: an observer
// removed during a post is skipped, not called (and reported as throwing).
TEST(InProcessDelivery, ObserversComeAndGoSafelyDuringAPost) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(observersComeAndGo() ? 0 : 1), testing::ExitedWithCode(0), "^$");
}

}  // namespace
