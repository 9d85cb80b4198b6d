#include <gtest/gtest.h>

#include <thread>

#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/tests/MonitorFixture.h"

namespace {

class Scheduler : public SharedMonitorFixture {};

TEST_F(Scheduler, TheMainThreadCheckReportsOnlyOnTheMainThread) {
    bool offMain = false;
    std::thread worker([&] { offMain = ZDMScheduler::checkOnBackgroundThreadWithMethodName("uploadData"); });
    worker.join();
    EXPECT_TRUE(offMain);
    EXPECT_EQ(lastSampledMessage(), "");

    struct Case {
        const char* name;
        const char* reported;
    } cases[] = {{"uploadData", "E:Method uploadData should execute on background thread"},
                 {"", "E:Method <empty method name> should execute on background thread"}};
    for (const Case& c : cases) {
        EXPECT_FALSE(ZDMScheduler::checkOnBackgroundThreadWithMethodName(c.name));
        EXPECT_EQ(lastSampledMessage(), c.reported);
    }
}

}  // namespace
