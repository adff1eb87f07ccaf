// The transport never holds up a post: without a session bus posts stay in
// this process (with one diagnostic line), and a stopped bus daemon costs
// each post a bounded wait. Each case starts its own bus daemon when it needs one.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/notify/CFNotificationCenter.h"
#include "platform/notify/DBusNotifyTransport.h"
#include "platform/notify/NotifyObserver.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Notification;
using notifytest::PrivateBusDaemon;
using notifytest::ScopedEnv;

// Far above the 100 ms a post may wait, so scheduling noise cannot fail a
// test; the measured times are printed.
constexpr auto kGenerousBound = std::chrono::seconds(2);

const CFDictionaryKeyCallBacks kKeyCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual, nullptr};
const CFDictionaryValueCallBacks kValueCallBacks{0, nullptr, nullptr, CFCopyDescription, CFEqual};

void post(CFStringRef name) {
    CFMutableDictionaryRef payload = CFDictionaryCreateMutable(kCFAllocatorDefault, 1, &kKeyCallBacks, &kValueCallBacks);
    CFDictionaryAddValue(payload, CFSTR("TestKey"), CFSTR("TestValue"));
    CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), name, nullptr, payload, true);
    CFRelease(payload);
}

Clock::duration timed(const std::function<void()>& action) {
    const auto start = Clock::now();
    action();
    return Clock::now() - start;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Installs a transport for the test and removes it afterwards.
struct InstalledTransport {
    explicit InstalledTransport(std::unique_ptr<platform::NotifyTransport> t) {
        platform::setNotifyTransport(std::move(t));
    }
    ~InstalledTransport() { platform::setNotifyTransport(nullptr); }
};

TEST(NoSessionBus, FactoryReturnsNoneAndPostsStillReachThisProcess) {
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", nullptr);
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    testing::internal::CaptureStderr();
    auto transport = platform::makeSessionBusTransport();
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(transport, nullptr);
    EXPECT_EQ(diagnostics.rfind("notify: no session bus", 0), 0u) << diagnostics;

    std::vector<std::string> seen;
    auto token = platform::addNotificationObserver("com.sorvane.recordBroadcastEnd",
                                                   [&](const Notification& n) { seen.push_back(n.payload.at(0).second); });
    InstalledTransport installed(std::move(transport));
    post(CFSTR("com.sorvane.recordBroadcastEnd"));
    EXPECT_EQ(seen, (std::vector<std::string>{"TestValue"}));
}

TEST(NoSessionBus, SocketNobodyListensOnCountsAsNoBus) {
    notifytest::TempDir dir;
    const std::string address = "unix:path=" + dir.path() + "/nobody";
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address.c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::makeSessionBusTransport(), nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_THROW(platform::NotifyObserver({"n"}), platform::NotifyBusError);
}

// Runs in a fresh process so earlier tests cannot have used up the one line.
TEST(NoSessionBusDeathTest, WritesOneDiagnosticLineForTheWholeProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
            unsetenv("XDG_RUNTIME_DIR");
            for (int i = 0; i < 3; ++i) {
                platform::setNotifyTransport(platform::makeSessionBusTransport());
                post(CFSTR("n"));
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^notify: no session bus[^\n]*\n$");
}

TEST(StoppedBusDaemon, ConnectingAndPostingAreBounded) {
    PrivateBusDaemon daemon;
    if (!daemon.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str());
    daemon.freeze();

    std::unique_ptr<platform::NotifyTransport> transport;
    const auto connecting = timed([&] { transport = platform::makeSessionBusTransport(); });
    ASSERT_NE(transport, nullptr) << "the socket accepts connections while the daemon is stopped";
    InstalledTransport installed(std::move(transport));
    std::cout << "connect to stopped bus: " << ms(connecting) << " ms\n";
    EXPECT_LT(connecting, kGenerousBound);

    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) {
        const auto posting = timed([] { post(CFSTR("com.sorvane.recordBroadcastStart")); });
        std::cout << "post " << i << " to stopped bus: " << ms(posting) << " ms\n";
        EXPECT_LT(posting, kGenerousBound);
    }
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("notify: the session bus did not take a post"), std::string::npos) << diagnostics;

    const auto removing = timed([] { platform::setNotifyTransport(nullptr); });
    std::cout << "close on stopped bus: " << ms(removing) << " ms\n";
    EXPECT_LT(removing, kGenerousBound);
}

TEST(StoppedBusDaemon, PostsMadeWhileStoppedArriveInOrderAfterItResumes) {
    PrivateBusDaemon daemon;
    if (!daemon.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str());
    platform::NotifyObserver observer({"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"});
    InstalledTransport installed(platform::makeSessionBusTransport());

    daemon.freeze();
    post(CFSTR("com.sorvane.recordBroadcastStart"));
    post(CFSTR("com.sorvane.recordBroadcastEnd"));
    daemon.thaw();
    platform::setNotifyTransport(nullptr);  // writes what is still queued

    std::vector<std::string> names;
    while (auto n = observer.waitForNotification(std::chrono::seconds(5))) {
        names.push_back(n->name);
        if (names.size() == 2) break;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"}));
}

TEST(StoppedBusDaemon, ObserverGivesUpAfterItsRegistrationTimeout) {
    PrivateBusDaemon daemon;
    if (!daemon.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str());
    daemon.freeze();
    const auto waited = timed([] {
        EXPECT_THROW(platform::NotifyObserver({"n"}, std::chrono::milliseconds(200)), platform::NotifyBusError);
    });
    EXPECT_LT(waited, kGenerousBound);
}

TEST(LostBusDaemon, PostsAfterTheDaemonExitedStayInThisProcess) {
    std::unique_ptr<platform::NotifyTransport> transport;
    {
        PrivateBusDaemon daemon;
        if (!daemon.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
        ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", daemon.address().c_str());
        transport = platform::makeSessionBusTransport();
        ASSERT_NE(transport, nullptr);
        InstalledTransport installed(std::move(transport));
        post(CFSTR("n"));
        transport = platform::setNotifyTransport(nullptr);
    }
    int calls = 0;
    auto token = platform::addNotificationObserver("n", [&](const Notification&) { ++calls; });
    InstalledTransport installed(std::move(transport));
    testing::internal::CaptureStderr();
    post(CFSTR("n"));
    post(CFSTR("n"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, 2);
}

TEST(RestartedBusDaemon, NextPostReconnectsAndIsDelivered) {
    notifytest::TempDir dir;
    const std::string socket = dir.path() + "/bus";
    const std::string address = "unix:path=" + socket;
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address.c_str());
    auto first = std::make_unique<PrivateBusDaemon>(socket);
    if (!first->started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    InstalledTransport installed(platform::makeSessionBusTransport());
    post(CFSTR("com.sorvane.recordBroadcastStart"));
    first.reset();
    ::unlink(socket.c_str());

    PrivateBusDaemon second(socket);
    ASSERT_TRUE(second.started());
    platform::NotifyObserver observer({"com.sorvane.recordBroadcastEnd"});
    testing::internal::CaptureStderr();
    post(CFSTR("com.sorvane.recordBroadcastEnd"));
    testing::internal::GetCapturedStderr();
    const auto got = observer.waitForNotification(std::chrono::seconds(5));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->payload, (NotificationPayload{{"TestKey", "TestValue"}}));
}

}  // namespace
