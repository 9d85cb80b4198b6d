#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "platform/foundation/SharedInstance.h"

namespace {

std::atomic<int> made{0};

struct Counted {
    Counted() { ++made; }
};
constinit SharedInstance<Counted> sharedCounted;

TEST(SharedInstance, ThreadsRacingForTheFirstUseGetOneInstance) {
    sharedCounted.reset();
    made = 0;
    std::vector<std::shared_ptr<Counted>> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = sharedCounted.get(); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(made, 1);
    for (const auto& instance : seen) EXPECT_EQ(instance, seen.front());
}

struct Dropped {
    // What a destructor may do while a reset releases it: look at its own slot again.
    ~Dropped();
};
constinit SharedInstance<Dropped> sharedDropped;
Dropped::~Dropped() {
    EXPECT_FALSE(sharedDropped.existing());
}

struct Kept {};
constinit SharedInstance<Kept> sharedKept{TestReset::keep};

struct Installed {
    int value = 0;
};
constinit SharedInstance<Installed> installed{nullptr, TestReset::keep};

TEST(SharedInstance, ResetAllDropsWhatANewProcessWouldNotHaveAndKeepsTheRest) {
    std::weak_ptr<Dropped> dropped = sharedDropped.get();
    auto held = sharedCounted.get();
    auto kept = sharedKept.get();
    EXPECT_FALSE(installed.get()) << "without a factory only what is set is there";
    installed.set(std::make_shared<Installed>(Installed{7}));
    static std::atomic<int> resets{0};
    static const bool registered = (registerResetForTesting([] { ++resets; }), true);
    ASSERT_TRUE(registered);
    const int resetsBefore = resets;

    resetAllForTesting();
    EXPECT_TRUE(dropped.expired());
    EXPECT_NE(sharedCounted.get(), held) << "a holder keeps the old one; the next use makes anew";
    EXPECT_EQ(sharedKept.get(), kept);
    EXPECT_EQ(installed.get()->value, 7);
    EXPECT_EQ(resets, resetsBefore + 1);
    installed.reset();
}

struct Probe {
    // A destructor run at exit is what a thread still working while the process ends would race.
    ~Probe() { _exit(3); }
};
constinit SharedInstance<Probe> sharedProbe;

TEST(SharedInstance, NeverDestroyedAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            sharedProbe.get();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
