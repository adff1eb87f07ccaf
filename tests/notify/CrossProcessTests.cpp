// Posts made by one process reach observers in another through the session
// bus. Run under dbus-run-session (see CMakeLists.txt); skipped without a bus.
// (Polling the observer's descriptor is what containing-app does; its tests
// cover that path.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/notify/NotifyObserver.h"

namespace {

using namespace notifytest;
using platform::NotifyObserver;
using Names = std::vector<std::string>;

const std::string kStart = "com.sorvane.recordBroadcastStart";
const std::string kEnd = "com.sorvane.recordBroadcastEnd";

class CrossProcess : public testing::Test {
protected:
    void SetUp() override {
        if (!sessionBusAvailable()) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    }

    // The names of `count` posts (each checked for the extension's payload),
    // then of any that follow within 200 ms.
    static Names receive(NotifyObserver& observer, size_t count) {
        Names names;
        while (auto n = observer.waitForNotification(names.size() < count ? 10s : 200ms)) {
            EXPECT_EQ(n->payload, (NotificationPayload{{"TestKey", "TestValue"}})) << n->name;
            names.push_back(n->name);
        }
        return names;
    }
};

TEST_F(CrossProcess, EachObserverGetsEveryPostOfItsNamesOnceInOrder) {
    NotifyObserver both({kStart, kEnd});
    NotifyObserver endTwice({kEnd, kEnd});  // a duplicate registration counts once
    // Identical posts are not merged.
    Child poster({NOTIFY_POST_HELPER, kStart, kEnd, "com.sorvane.other", kEnd, kStart, kStart, kEnd});
    ASSERT_EQ(poster.wait(30s), 0);
    EXPECT_EQ(receive(both, 6), (Names{kStart, kEnd, kEnd, kStart, kStart, kEnd}));
    EXPECT_EQ(receive(endTwice, 3), (Names{kEnd, kEnd, kEnd}));
}

TEST(NotifyObserverNames, RejectsNamesThatCannotBeMatchedSafely) {
    for (const std::string& name :
         {std::string(), std::string("it's"), std::string("back\\slash"), std::string("nul\0inside", 10)})
        EXPECT_THROW(NotifyObserver({name}), std::invalid_argument) << name;
}

}  // namespace
