#include <gtest/gtest.h>
#include <netinet/in.h>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/Reachability.h"

namespace {

std::shared_ptr<NetworkReachability> internet() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return NetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&zero));
}

TEST(ReachabilityTest, ReferencesNeedAnAddressOrAHost) {
    sockaddr unknown{};
    unknown.sa_family = AF_UNIX;
    EXPECT_FALSE(NetworkReachability::createWithAddress(nullptr));
    EXPECT_FALSE(NetworkReachability::createWithAddress(&unknown));
    EXPECT_FALSE(NetworkReachability::createWithName(""));
    EXPECT_TRUE(NetworkReachability::createWithName("127.0.0.1"));
    EXPECT_TRUE(internet());
}

TEST(ReachabilityTest, ScheduledReferenceIsCalledBackOnTheMainRunLoopForEachChange) {
    SimulatedNetwork::Scoped network(NetworkReachabilityFlag::Reachable);
    auto reference = internet();
    std::vector<NetworkReachabilityFlags> seen;
    EXPECT_FALSE(reference->scheduleWithMainRunLoop());  // no callback yet
    reference->setCallback([&](NetworkReachabilityFlags flags) { seen.push_back(flags); });
    ASSERT_TRUE(reference->scheduleWithMainRunLoop());

    SimulatedNetwork::setFlags(NetworkReachabilityFlag::Reachable);  // no change, no call
    SimulatedNetwork::setFlags(0);
    EXPECT_TRUE(seen.empty());  // delivered by the run loop, not on the changing thread
    RunLoop::runUntilIdle();
    SimulatedNetwork::setFlags(NetworkReachabilityFlag::Reachable |
                               NetworkReachabilityFlag::ConnectionRequired);
    RunLoop::runUntilIdle();
    EXPECT_EQ(seen,
              (std::vector<NetworkReachabilityFlags>{
                  0, NetworkReachabilityFlag::Reachable | NetworkReachabilityFlag::ConnectionRequired}));

    NetworkReachabilityFlags flags = 99;
    ASSERT_TRUE(reference->getFlags(&flags));
    EXPECT_EQ(flags, NetworkReachabilityFlag::Reachable | NetworkReachabilityFlag::ConnectionRequired);

    reference->unscheduleFromMainRunLoop();
    SimulatedNetwork::setFlags(0);
    RunLoop::runUntilIdle();
    EXPECT_EQ(seen.size(), 2u);
}

TEST(ReachabilityTest, SystemPathCanBeWatchedAndReleased) {
    auto reference = internet();
    reference->setCallback([](NetworkReachabilityFlags) {});
    EXPECT_TRUE(reference->scheduleWithMainRunLoop());
    NetworkReachabilityFlags flags = 0;
    EXPECT_TRUE(reference->getFlags(&flags));
    EXPECT_EQ(flags & ~NetworkReachabilityFlag::Reachable, 0u);
    reference.reset();  // stops the interface watch; the test would hang here if it did not
}

}  // namespace
