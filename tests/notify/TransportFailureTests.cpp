// The transport never holds up a post: without a session bus posts stay in
// this process (with one diagnostic line), and a stopped bus daemon costs
// each post a bounded wait. Each case starts its own bus daemon when it needs one.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
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
using testing_support::TempDirectory;
using Clock = std::chrono::steady_clock;

// Far above the 100 ms a post may wait: this catches a call that blocks on
// the bus, never a slow machine.
constexpr auto kGenerousBound = std::chrono::seconds(2);

template <typename Action>
Clock::duration timed(Action action) {
    const auto start = Clock::now();
    action();
    return Clock::now() - start;
}

// A dbus-daemon of our own on `socket`; it can be stopped (SIGSTOP) to stand
// for a frozen bus, and is killed on destruction.
struct PrivateBus {
    explicit PrivateBus(const std::string& socket) : address("unix:path=" + socket) {
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) return;
        daemon = std::make_unique<Child>(std::vector<std::string>{
            "/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork", "--nopidfile",
            "--address=unix:path=" + socket, "--print-address"});
        // The printed address names the daemon's id; a restarted daemon has
        // another, so the environment holds the socket alone.
        if (daemon->readLine(10s)) env = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address.c_str());
    }
    bool started() const { return env != nullptr; }
    void signal(int number) const { kill(daemon->pid(), number); }

    std::string address;
    std::unique_ptr<Child> daemon;
    std::unique_ptr<ScopedEnv> env;
};

// Installs a transport for the test and removes it afterwards.
struct InstalledTransport {
    explicit InstalledTransport(std::unique_ptr<platform::NotifyTransport> t) {
        platform::setNotifyTransport(std::move(t));
    }
    ~InstalledTransport() { platform::setNotifyTransport(nullptr); }
};

TEST(NoSessionBus, TheTransportWaitsForAPostAndPostsStillReachThisProcess) {
    TempDirectory dir;
    const std::string nobody = "unix:path=" + dir / "nobody";
    for (const char* address : {static_cast<const char*>(nullptr), nobody.c_str()}) {
        SCOPED_TRACE(address != nullptr ? address : "(unset)");
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", address);
        ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
        EXPECT_THROW(NotifyObserver({"n"}), NotifyBusError);

        std::vector<std::string> seen;
        auto token = platform::addNotificationObserver(
            "com.sorvane.recordBroadcastEnd", [&](const Notification& n) { seen.push_back(n.payload.at(0).second); });
        // The transport connects at the first post, which finds no bus.
        InstalledTransport installed(platform::makeSessionBusTransport("com.sorvane.Test"));
        testing::internal::CaptureStderr();
        post(CFSTR("com.sorvane.recordBroadcastEnd"));
        const std::string diagnostics = testing::internal::GetCapturedStderr();
        if (address == nullptr) {
            EXPECT_EQ(diagnostics.rfind("notify: no session bus", 0), 0u) << diagnostics;
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"TestValue"}));
    }
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

TEST(StoppedBusDaemon, RegisteringConnectingPostingAndClosingAreBounded) {
    TempDirectory dir;
    PrivateBus bus(dir / "bus");
    if (!bus.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    bus.signal(SIGSTOP);
    EXPECT_LT(timed([] { EXPECT_THROW(NotifyObserver({"n"}, std::chrono::milliseconds(200)), NotifyBusError); }),
              kGenerousBound);

    // The socket accepts connections while the daemon is stopped; the first
    // post connects, asks for the bus name and posts, all within the bound.
    InstalledTransport installed(platform::makeSessionBusTransport("com.sorvane.Test"));
    testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i)
        EXPECT_LT(timed([] { post(CFSTR("com.sorvane.recordBroadcastStart")); }), kGenerousBound);
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("notify: the session bus did not take a post"), std::string::npos) << diagnostics;
    EXPECT_LT(timed([] { platform::setNotifyTransport(nullptr); }), kGenerousBound);
}

TEST(StoppedBusDaemon, PostsMadeWhileStoppedArriveInOrderAfterItResumes) {
    TempDirectory dir;
    PrivateBus bus(dir / "bus");
    if (!bus.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    NotifyObserver observer({"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"});
    InstalledTransport installed(platform::makeSessionBusTransport());
    bus.signal(SIGSTOP);
    post(CFSTR("com.sorvane.recordBroadcastStart"));
    post(CFSTR("com.sorvane.recordBroadcastEnd"));
    bus.signal(SIGCONT);
    platform::setNotifyTransport(nullptr);  // writes what is still queued

    std::vector<std::string> names;
    while (names.size() < 2) {
        auto n = observer.waitForNotification(5s);
        if (!n) break;
        names.push_back(n->name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"}));
}

TEST(LostBusDaemon, PostsAfterTheDaemonExitedStayInThisProcess) {
    TempDirectory dir;
    std::unique_ptr<platform::NotifyTransport> transport;
    {
        PrivateBus bus(dir / "bus");
        if (!bus.started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
        InstalledTransport installed(platform::makeSessionBusTransport());
        post(CFSTR("n"));
        transport = platform::setNotifyTransport(nullptr);
        ASSERT_NE(transport, nullptr);
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

TEST(LostBusDaemon, ARestartedDaemonIsReachedByTheNextPost) {
    TempDirectory dir;
    const std::string socket = dir / "bus";
    auto first = std::make_unique<PrivateBus>(socket);
    if (!first->started()) GTEST_SKIP() << "cannot start a private dbus-daemon";
    InstalledTransport installed(platform::makeSessionBusTransport());
    post(CFSTR("com.sorvane.recordBroadcastStart"));
    first.reset();
    ::unlink(socket.c_str());

    PrivateBus second(socket);
    ASSERT_TRUE(second.started());
    NotifyObserver observer({"com.sorvane.recordBroadcastEnd"});
    testing::internal::CaptureStderr();
    post(CFSTR("com.sorvane.recordBroadcastEnd"));
    testing::internal::GetCapturedStderr();
    const auto got = observer.waitForNotification(5s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->payload, (NotificationPayload{{"TestKey", "TestValue"}}));
}

}  // namespace
