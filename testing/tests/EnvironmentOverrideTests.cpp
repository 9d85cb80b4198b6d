#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/EnvironmentOverride.h"

namespace {

// Every test that changes the environment leans on this: what was there comes back, what was not
// stays away, and a variable changed twice goes back to its first value, not its second.
TEST(EnvironmentOverride, PutsBackWhatWasThereAndRemovesWhatWasNot) {
    setenv("QUORVANE_OVERRIDE_PRESENT", "before", 1);
    unsetenv("QUORVANE_OVERRIDE_ABSENT");
    {
        EnvironmentOverride environment;
        environment.set("QUORVANE_OVERRIDE_PRESENT", "first");
        environment.set("QUORVANE_OVERRIDE_PRESENT", nullptr);
        environment.set("QUORVANE_OVERRIDE_ABSENT", "first");
        environment.set("QUORVANE_OVERRIDE_ABSENT", "second");
        EXPECT_EQ(std::getenv("QUORVANE_OVERRIDE_PRESENT"), nullptr);
        EXPECT_STREQ(std::getenv("QUORVANE_OVERRIDE_ABSENT"), "second");
    }
    EXPECT_STREQ(std::getenv("QUORVANE_OVERRIDE_PRESENT"), "before");
    EXPECT_EQ(std::getenv("QUORVANE_OVERRIDE_ABSENT"), nullptr);
    unsetenv("QUORVANE_OVERRIDE_PRESENT");
}

}  // namespace
