// Posts made by one process reach observers in another through the session
// bus. Run under dbus-run-session (see CMakeLists.txt); skipped without a bus.

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/notify/NotifyObserver.h"

namespace {

using platform::Notification;
using platform::NotifyObserver;
using namespace std::chrono_literals;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

class CrossProcess : public testing::Test {
protected:
    void SetUp() override {
        if (!notifytest::sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    }

    static int postFromAnotherProcess(const std::vector<std::string>& posts) {
        std::vector<std::string> argv{NOTIFY_POST_HELPER};
        argv.insert(argv.end(), posts.begin(), posts.end());
        return notifytest::run(argv);
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

TEST_F(CrossProcess, ObserverSeesNameAndPayloadPostedByAnotherProcess) {
    NotifyObserver observer({kStart});
    ASSERT_EQ(postFromAnotherProcess({kStart}), 0);
    const auto got = receive(observer, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kStart);
    EXPECT_EQ(got[0].payload, (NotificationPayload{{"TestKey", "TestValue"}}));
}

TEST_F(CrossProcess, EveryPostArrivesInOrderEvenWithTheSameName) {
    NotifyObserver observer({kStart, kEnd});
    std::vector<std::string> posts;
    for (int i = 0; i < 20; ++i) posts.push_back((i % 2 == 0 ? kStart : kEnd) + "=Index:" + std::to_string(i));
    posts.push_back(kEnd + "=Index:last");
    posts.push_back(kEnd + "=Index:last");  // identical posts are not merged
    ASSERT_EQ(postFromAnotherProcess(posts), 0);

    const auto got = receive(observer, posts.size());
    ASSERT_EQ(got.size(), posts.size());
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(got[i].name, i % 2 == 0 ? kStart : kEnd);
        EXPECT_EQ(got[i].payload, (NotificationPayload{{"Index", std::to_string(i)}}));
    }
    EXPECT_EQ(got[20].payload, got[21].payload);
    EXPECT_FALSE(observer.waitForNotification(0ms));
}

TEST_F(CrossProcess, ObserverReceivesOnlyTheNamesItRegisteredFor) {
    NotifyObserver observer({kEnd, kEnd});
    ASSERT_EQ(postFromAnotherProcess({kStart, "com.sorvane.other", kEnd}), 0);
    const auto got = receive(observer, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, kEnd);
    // The duplicate registration must not deliver the post twice.
    EXPECT_FALSE(observer.waitForNotification(200ms));
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

TEST_F(CrossProcess, SeveralObserversEachGetEveryPost) {
    NotifyObserver first({kStart});
    NotifyObserver second({kStart});
    ASSERT_EQ(postFromAnotherProcess({kStart}), 0);
    EXPECT_EQ(receive(first, 1).size(), 1u);
    EXPECT_EQ(receive(second, 1).size(), 1u);
}

TEST(NotifyObserverNames, RejectsNamesThatCannotBeMatchedSafely) {
    EXPECT_THROW(NotifyObserver({""}), std::invalid_argument);
    EXPECT_THROW(NotifyObserver({"it's"}), std::invalid_argument);
    EXPECT_THROW(NotifyObserver({"back\\slash"}), std::invalid_argument);
    EXPECT_THROW(NotifyObserver({std::string("nul\0inside", 10)}), std::invalid_argument);
}

}  // namespace
