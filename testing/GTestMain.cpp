#include <gtest/gtest.h>

// By the time a death test runs, earlier tests have left queue, timer and server threads behind;
// a child forked from them may inherit a lock that one of them held. The "threadsafe" style runs
// the binary afresh for the dying statement instead.
int main(int argc, char** argv) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
