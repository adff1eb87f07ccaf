// The transport never holds up a post: no bus, a stopped bus daemon and a
// lost one, each case with a daemon of its own (or none).

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/notify/DBusNotifyTransport.h"
#include "platform/notify/NotifyObserver.h"
#include "tests/support/TempDirectory.h"

namespace {

using namespace notifytest;
using platform::Notification;
using platform::NotifyBusError;
using platform::NotifyObserver;
using Names = std::vector<std::string>;

// Far above the bounds (100 ms a post, 1 s to close): this catches a call
// that blocks on the bus, never a slow machine.
template <typename Action>
bool bounded(Action action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::steady_clock::now() - start < 2s;
}

// A dbus-daemon of our own on `socket`, which the session bus address names.
struct PrivateBus {
    explicit PrivateBus(const std::string& socket) {
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) return;
        daemon = std::make_unique<Child>(Names{"/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf",
                                               "--nofork", "--nopidfile", "--address=unix:path=" + socket,
                                               "--print-address"});
        started = daemon->readLine(10s).has_value();
    }
    std::unique_ptr<Child> daemon;
    bool started = false;
};

// In a fresh process, so that no earlier test has used up the one line.
class NoSessionBus : public testing::TestWithParam<const char*> {};

TEST_P(NoSessionBus, PostsReachThisProcessAndOneLineSaysSoForTheWholeProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DBUS_SESSION_BUS_ADDRESS", GetParam(), 1);
            if (*GetParam() == '\0') unsetenv("DBUS_SESSION_BUS_ADDRESS");
            unsetenv("XDG_RUNTIME_DIR");
            int seen = 0;
            auto token = platform::addNotificationObserver("n", [&](const Notification&) { ++seen; });
            for (int i = 0; i < 3; ++i) {
                platform::setNotifyTransport(platform::makeSessionBusTransport("com.sorvane.Test"));
                postBroadcastSignal(CFSTR("n"));
            }
            platform::setNotifyTransport(nullptr);
            std::exit(seen == 3 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^notify: no session bus[^\n]*\n$");
}
INSTANTIATE_TEST_SUITE_P(UnsetOrNobodyListening, NoSessionBus, testing::Values("", "unix:path=/nonexistent/bus"));

// The socket accepts connections while the daemon is stopped: the first post
// connects, asks for the bus name and posts, and every call stays bounded.
// A daemon that resumes while the transport closes (slow, as under load)
// still gets every post, in order.
TEST(StoppedBusDaemon, EveryCallIsBoundedAndThePostsArriveInOrderWhenItResumes) {
    testing_support::TempDirectory dir;
    PrivateBus bus(dir / "bus");
    if (!bus.started) GTEST_SKIP() << "cannot start a private dbus-daemon";
    NotifyObserver observer({"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"});
    kill(bus.daemon->pid(), SIGSTOP);
    EXPECT_TRUE(bounded([] { EXPECT_THROW(NotifyObserver({"n"}, 200ms), NotifyBusError); }));
    platform::setNotifyTransport(platform::makeSessionBusTransport("com.sorvane.Test"));
    testing::internal::CaptureStderr();
    for (CFStringRef name : {kBroadcastStartSignal, kBroadcastEndSignal, kBroadcastEndSignal})
        EXPECT_TRUE(bounded([name] { postBroadcastSignal(name); }));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("notify: the session bus did not take a post"), std::string::npos) << diagnostics;
    std::thread resume([&] {
        std::this_thread::sleep_for(300ms);
        kill(bus.daemon->pid(), SIGCONT);
    });
    EXPECT_TRUE(bounded([] { platform::setNotifyTransport(nullptr); }));
    resume.join();
    Names names;
    while (auto n = observer.waitForNotification(names.size() < 3 ? 5s : 200ms)) names.push_back(n->name);
    EXPECT_EQ(names, (Names{"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd",
                            "com.sorvane.recordBroadcastEnd"}));
}

TEST(LostBusDaemon, PostsStayInThisProcessUntilARestartedDaemonIsReached) {
    testing_support::TempDirectory dir;
    auto first = std::make_unique<PrivateBus>(dir / "bus");
    if (!first->started) GTEST_SKIP() << "cannot start a private dbus-daemon";
    platform::setNotifyTransport(platform::makeSessionBusTransport());
    postBroadcastSignal(CFSTR("n"));
    first.reset();
    ::unlink((dir / "bus").c_str());

    int calls = 0;
    auto token = platform::addNotificationObserver("n", [&](const Notification&) { ++calls; });
    testing::internal::CaptureStderr();
    postBroadcastSignal(CFSTR("n"));
    postBroadcastSignal(CFSTR("n"));
    EXPECT_EQ(calls, 2);

    PrivateBus second(dir / "bus");
    NotifyObserver observer({"n"});
    postBroadcastSignal(CFSTR("n"));
    testing::internal::GetCapturedStderr();
    platform::setNotifyTransport(nullptr);
    const auto got = observer.waitForNotification(5s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->payload, (NotificationPayload{{"TestKey", "TestValue"}}));
}

}  // namespace
