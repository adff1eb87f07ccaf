// Posts made by one process reach observers in another through the session
// bus. Run under dbus-run-session (see CMakeLists.txt); skipped without a bus.

#include <gtest/gtest.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/notify/DBusNotifyTransport.h"
#include "platform/notify/NotifyObserver.h"

namespace {

using namespace notifytest;
using platform::Notification;
using platform::NotifyObserver;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

class CrossProcess : public testing::Test {
protected:
    void SetUp() override {
        if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    }

    // Each post is NAME (payload TestKey -> TestValue) or NAME=KEY:VALUE.
    static int postFromAnotherProcess(const std::vector<std::string>& posts) {
        std::vector<std::string> argv{NOTIFY_POST_HELPER};
        argv.insert(argv.end(), posts.begin(), posts.end());
        return run(argv);
    }

    static std::vector<Notification> receive(NotifyObserver& observer, size_t count) {
        std::vector<Notification> got;
        while (got.size() < count) {
            auto n = observer.waitForNotification(10s);
            if (!n) break;
            got.push_back(std::move(*n));
        }
        return got;
    }
};

// How many connections own `name` on the session bus or wait in its queue,
// once that count reaches `expected` or 5 s have passed.
size_t busNameOwnersOnceAt(const std::string& name, size_t expected) {
    size_t owners = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        sd_bus* bus = nullptr;
        sd_bus_message* reply = nullptr;
        char** list = nullptr;
        owners = 0;
        if (sd_bus_open_user(&bus) >= 0 &&
            sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "ListQueuedOwners", nullptr, &reply, "s", name.c_str()) >= 0 &&
            sd_bus_message_read_strv(reply, &list) >= 0) {
            for (char** owner = list; *owner != nullptr; ++owner, ++owners) free(*owner);
            free(list);
        }
        sd_bus_message_unref(reply);
        sd_bus_flush_close_unref(bus);
        if (owners == expected) break;
        std::this_thread::sleep_for(100ms);
    }
    return owners;
}

TEST_F(CrossProcess, PostersOwnTheirBusNameWhileTheyRunAndTwoPostAtOnce) {
    const std::string busName = "com.sorvane.BroadcastExtension";
    NotifyObserver observer({kStart, kEnd});
    auto first = platform::makeSessionBusTransport(busName);
    auto second = platform::makeSessionBusTransport(busName);
    first->post({kStart, {{"TestKey", "TestValue"}}});
    second->post({kEnd, {{"TestKey", "TestValue"}}});
    ASSERT_EQ(receive(observer, 2).size(), 2u) << "a poster whose name is taken must still post";
    EXPECT_EQ(busNameOwnersOnceAt(busName, 2), 2u) << "the owner and the one queued behind it";
    first.reset();
    EXPECT_EQ(busNameOwnersOnceAt(busName, 1), 1u);
    second.reset();
    EXPECT_EQ(busNameOwnersOnceAt(busName, 0), 0u) << "the name goes with its last poster";
}

TEST_F(CrossProcess, EveryPostArrivesInOrderWithItsNameAndPayload) {
    NotifyObserver observer({kStart, kEnd});
    std::vector<std::string> posts{kStart};
    for (int i = 0; i < 20; ++i) posts.push_back((i % 2 == 0 ? kStart : kEnd) + "=Index:" + std::to_string(i));
    posts.insert(posts.end(), 2, kEnd + "=Index:last");  // identical posts are not merged
    ASSERT_EQ(postFromAnotherProcess(posts), 0);

    const auto got = receive(observer, posts.size());
    ASSERT_EQ(got.size(), posts.size());
    EXPECT_EQ(got[0].name, kStart);
    EXPECT_EQ(got[0].payload, (NotificationPayload{{"TestKey", "TestValue"}}));
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(got[i + 1].name, i % 2 == 0 ? kStart : kEnd);
        EXPECT_EQ(got[i + 1].payload, (NotificationPayload{{"Index", std::to_string(i)}}));
    }
    EXPECT_EQ(got[21].payload, got[22].payload);
    EXPECT_FALSE(observer.waitForNotification(0ms));
}

TEST_F(CrossProcess, EachObserverGetsEachOfItsNamesOnce) {
    NotifyObserver twice({kEnd, kEnd});  // a duplicate registration counts once
    NotifyObserver other({kEnd});
    ASSERT_EQ(postFromAnotherProcess({kStart, "com.sorvane.other", kEnd}), 0);
    for (NotifyObserver* observer : {&twice, &other}) {
        const auto got = receive(*observer, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].name, kEnd);
        EXPECT_FALSE(observer->waitForNotification(200ms));
    }
}

TEST_F(CrossProcess, EventLoopUseThroughFileDescriptor) {
    NotifyObserver observer({kStart});
    ASSERT_EQ(postFromAnotherProcess({kStart, kStart}), 0);
    std::vector<Notification> got;
    for (int round = 0; round < 100 && got.size() < 2; ++round) {
        pollfd p{observer.fd(), observer.pollEvents(), 0};
        ASSERT_GE(poll(&p, 1, 10000), 0);
        for (auto& n : observer.takeNotifications()) got.push_back(std::move(n));
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].name, kStart);
}

TEST(NotifyObserverNames, RejectsNamesThatCannotBeMatchedSafely) {
    for (const std::string& name : {std::string(), std::string("it's"), std::string("back\\slash"),
                                   std::string("nul\0inside", 10)})
        EXPECT_THROW(NotifyObserver({name}), std::invalid_argument) << name;
}

}  // namespace
