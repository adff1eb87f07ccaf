// The transport never holds up a post: no bus, a stopped bus daemon and a
// lost one, each case with a daemon of its own (or none); then the host
// program on a daemon of its own, stopped or not, and what its exit says.

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

// Well above a call's own bound (a post's 100 ms gets five times that, the
// 1 s of finishing twice): this catches a call that blocks on the bus, or
// waits far past its bound, never a slow machine.
template <typename Action>
bool returnsWithin(std::chrono::milliseconds limit, Action action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::steady_clock::now() - start < limit;
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
    EXPECT_TRUE(returnsWithin(2s, [] { EXPECT_THROW(NotifyObserver({"n"}, 200ms), NotifyBusError); }));
    platform::setNotifyTransport(platform::makeSessionBusTransport("com.sorvane.Test"));
    testing::internal::CaptureStderr();
    for (CFStringRef name : {kBroadcastStartSignal, kBroadcastEndSignal, kBroadcastEndSignal})
        EXPECT_TRUE(returnsWithin(500ms, [name] { postBroadcastSignal(name); }));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("notify: the session bus did not take a post"), std::string::npos) << diagnostics;
    std::thread resume([&] {
        std::this_thread::sleep_for(300ms);
        kill(bus.daemon->pid(), SIGCONT);
    });
    EXPECT_TRUE(returnsWithin(2s, [] { platform::setNotifyTransport(nullptr); }));
    resume.join();
    Names names;
    while (auto n = observer.waitForNotification(names.size() < 3 ? 5s : 200ms)) names.push_back(n->name);
    EXPECT_EQ(names, (Names{"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd",
                            "com.sorvane.recordBroadcastEnd"}));
}

// A daemon that goes is reported once; one that comes back is reached by
// the next post, also when it went and came back between two posts, which
// the post finds out only as its send fails.
TEST(LostBusDaemon, PostsStayInThisProcessUntilARestartedDaemonIsReached) {
    testing_support::TempDirectory dir;
    auto daemon = std::make_unique<PrivateBus>(dir / "bus");
    if (!daemon->started) GTEST_SKIP() << "cannot start a private dbus-daemon";
    platform::setNotifyTransport(platform::makeSessionBusTransport());
    postBroadcastSignal(CFSTR("n"));
    daemon.reset();
    ::unlink((dir / "bus").c_str());

    int calls = 0;
    auto token = platform::addNotificationObserver("n", [&](const Notification&) { ++calls; });
    testing::internal::CaptureStderr();
    postBroadcastSignal(CFSTR("n"));
    postBroadcastSignal(CFSTR("n"));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("notify: the session bus is gone", 0), 0u);

    for (int restart = 0; restart < 2; ++restart) {
        daemon.reset();
        ::unlink((dir / "bus").c_str());
        daemon = std::make_unique<PrivateBus>(dir / "bus");
        NotifyObserver observer({"n"});
        testing::internal::CaptureStderr();
        postBroadcastSignal(CFSTR("n"));
        const auto got = observer.waitForNotification(5s);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_TRUE(got) << "restart " << restart;
        EXPECT_EQ(got->payload, (NotificationPayload{{"TestKey", "TestValue"}}));
    }
    EXPECT_TRUE(platform::finishNotifyTransport().names.empty());
}

// broadcast-extension beside a daemon of its own, stopped (SIGSTOP) for a
// while or not at all, or with no session bus to reach. A post never waits
// for a stopped daemon; at the end the program waits about a second for what
// is still queued, and says on standard error, --quiet or not, what the bus
// never took (exit 9). No bus at all is one line, and exit 0.
struct StoppedDaemonRun {
    const char* name;
    Names environment;  // for env(1)
    Names hostArguments;
    enum { Never, Throughout, FromTheStartSignalUntilItHasEnded } stopped;
    int status;
    std::string errors;  // standard error, whole
    bool signalsArrive;
};
void PrintTo(const StoppedDaemonRun& run, std::ostream* out) { *out << run.name; }

const std::string kQueued = "notify: the session bus did not take a post within 100 ms; it stays queued\n";
const std::string kNoBus =
    ", so signals reach observers in this process only; a desktop session has one, or run the "
    "program inside dbus-run-session\n";
const std::string kUndelivered =
    "broadcast-extension: error: 2 signals (com.sorvane.recordBroadcastStart, com.sorvane.recordBroadcastEnd) "
    "could not be delivered: the session bus daemon did not take them within 1 s\n";

class BusDaemonOfTheHost : public testing::TestWithParam<StoppedDaemonRun> {};

TEST_P(BusDaemonOfTheHost, SignalsArriveOrTheExitSaysTheyDidNot) {
    const StoppedDaemonRun& run = GetParam();
    testing_support::TempDirectory dir;
    PrivateBus bus(dir / "bus");
    if (!bus.started) GTEST_SKIP() << "cannot start a private dbus-daemon";
    NotifyObserver observer({"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"});
    const auto stop = [&] { ::kill(bus.daemon->pid(), SIGSTOP); };
    const auto resume = [&] { ::kill(bus.daemon->pid(), SIGCONT); };
    if (run.stopped == run.Throughout) stop();
    Names argv{"/usr/bin/env"};
    argv.insert(argv.end(), run.environment.begin(), run.environment.end());
    argv.insert(argv.end(), {BROADCAST_EXTENSION, "--container-root", dir / "root", "--temp-dir", dir.path()});
    argv.insert(argv.end(), run.hostArguments.begin(), run.hostArguments.end());
    Child host(argv);
    Names arrived;
    if (run.stopped == run.FromTheStartSignalUntilItHasEnded) {
        if (auto start = observer.waitForNotification(10s)) arrived.push_back(start->name);
        stop();
        EXPECT_TRUE(host.readLine(60s)) << "the summary, printed once the broadcast has ended";
        std::this_thread::sleep_for(200ms);
        resume();
    }
    std::string errors;
    while (auto line = host.readErrorLine(60s)) errors += *line + "\n";
    EXPECT_EQ(host.wait(60s), run.status);
    EXPECT_EQ(errors, run.errors);
    resume();
    while (auto n = observer.waitForNotification(arrived.size() < 2 && run.signalsArrive ? 10s : 500ms))
        arrived.push_back(n->name);
    EXPECT_EQ(arrived, (run.signalsArrive ? Names{"com.sorvane.recordBroadcastStart", "com.sorvane.recordBroadcastEnd"}
                                          : Names{}));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, BusDaemonOfTheHost,
    testing::Values(
        // Past sd-bus's 25 s timeout for the handshake's answer.
        StoppedDaemonRun{
            "ThirtySecondBroadcast", {}, {"--realtime", "--duration", "30"}, StoppedDaemonRun::Never, 0, "", true},
        StoppedDaemonRun{"StoppedThroughout",
                         {},
                         {"--duration", "1"},
                         StoppedDaemonRun::Throughout,
                         9,
                         kQueued + kUndelivered,
                         false},
        StoppedDaemonRun{"StoppedThroughoutQuiet",
                         {},
                         {"--duration", "1", "--quiet"},
                         StoppedDaemonRun::Throughout,
                         9,
                         kUndelivered,
                         false},
        StoppedDaemonRun{"StoppedMidBroadcastUntilItHasEnded",
                         {},
                         {"--realtime", "--duration", "1"},
                         StoppedDaemonRun::FromTheStartSignalUntilItHasEnded,
                         0,
                         "",
                         true},
        StoppedDaemonRun{
            "NoSessionBus",
            {"-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "XDG_RUNTIME_DIR"},
            {"--duration", "1"},
            StoppedDaemonRun::Never,
            0,
            "notify: there is no session bus (neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set)" + kNoBus,
            false},
        StoppedDaemonRun{"NobodyListening",
                         {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"},
                         {"--duration", "1"},
                         StoppedDaemonRun::Never,
                         0,
                         "notify: there is no session bus (nothing answers at \"unix:path=/nonexistent/bus\": No such "
                         "file or directory)" +
                             kNoBus,
                         false}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
