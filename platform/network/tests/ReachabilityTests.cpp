#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/NetworkPath.h"
#include "platform/network/Reachability_simulated.h"

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

NetworkReachabilityFlags flagsOf(const std::shared_ptr<NetworkReachability>& reference) {
    NetworkReachabilityFlags flags = 0;
    EXPECT_TRUE(reference->getFlags(&flags));
    return flags;
}

TEST(ReachabilityTest, LoopbackPathFollowsTheLoopbackInterfaceAlone) {
    using namespace NetworkReachabilityFlag;
    sockaddr_in loopbackAddress{}, ethernetAddress{};
    loopbackAddress.sin_family = ethernetAddress.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &loopbackAddress.sin_addr);
    inet_pton(AF_INET, "192.0.2.2", &ethernetAddress.sin_addr);
    constexpr unsigned kUp = IFF_UP | IFF_RUNNING;
    struct Case {
        const char* name;
        unsigned loopbackInterface, ethernetInterface;
        NetworkReachabilityFlags network, loopback;
    };
    const Case cases[] = {
        {"only loopback up", kUp, 0, 0, Reachable | IsLocalAddress | IsDirect},
        {"both up", kUp, kUp, Reachable, Reachable | IsLocalAddress | IsDirect},
        {"loopback down", IFF_RUNNING, kUp, Reachable, 0},
    };
    for (const Case& c : cases) {
        ifaddrs ethernet{}, loopback{};
        char ethernetName[] = "eth0", loopbackName[] = "lo";
        loopback = {&ethernet,
                    loopbackName,
                    c.loopbackInterface | IFF_LOOPBACK,
                    reinterpret_cast<sockaddr*>(&loopbackAddress),
                    nullptr,
                    {},
                    nullptr};
        ethernet = {nullptr,
                    ethernetName,
                    c.ethernetInterface,
                    reinterpret_cast<sockaddr*>(&ethernetAddress),
                    nullptr,
                    {},
                    nullptr};
        EXPECT_EQ(NetworkPath::flagsForInterfaces(&loopback, false), c.network) << c.name;
        EXPECT_EQ(NetworkPath::flagsForInterfaces(&loopback, true), c.loopback) << c.name;
    }
}

TEST(ReachabilityTest, LoopbackHostsReadTheLoopbackPath) {
    using namespace NetworkReachabilityFlag;
    for (const char* host :
         {"localhost", "LocalHost", "127.0.0.1", "127.8.9.10", "::1", "[::1]", "::ffff:127.0.0.1"})
        EXPECT_EQ(flagsOf(NetworkReachability::createWithName(host)), Reachable | IsLocalAddress | IsDirect)
            << host;
    for (const char* host : {"example.com", "128.0.0.1", "::2", "localhost.example.com"})
        EXPECT_FALSE(flagsOf(NetworkReachability::createWithName(host)) & IsLocalAddress) << host;
    sockaddr_in6 loopbackAddress{};
    loopbackAddress.sin6_family = AF_INET6;
    loopbackAddress.sin6_addr = in6addr_loopback;
    EXPECT_TRUE(
        flagsOf(NetworkReachability::createWithAddress(reinterpret_cast<sockaddr*>(&loopbackAddress))) &
        IsLocalAddress);
    EXPECT_FALSE(flagsOf(internet()) & IsLocalAddress);

    SimulatedNetwork::Scoped network(0);  // stands for every path, until loopback gets its own flags
    auto local = NetworkReachability::createWithName("127.0.0.1");
    EXPECT_EQ(flagsOf(local), 0u);
    SimulatedNetwork::setLoopbackFlags(Reachable);
    EXPECT_EQ(flagsOf(local), Reachable);
    EXPECT_EQ(flagsOf(internet()), 0u);
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
