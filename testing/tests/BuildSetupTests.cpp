#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <string_view>

namespace {

// The temporary directory is the first variable ctest hands a test; one given after it shows that
// none of a folder's variables is dropped. Run by hand, the binary has neither.
TEST(TestEnvironment, CtestHandsEveryVariable) {
    if (!std::getenv("QUORVANE_TEST_TMP")) GTEST_SKIP() << "runs under ctest only";
    const char* value = std::getenv("QUORVANE_TESTING_SECOND_VARIABLE");
    ASSERT_TRUE(value);
    EXPECT_STREQ(value, "arrives");
}

// Read through volatile, so that the faulty operations happen at run time.
volatile int largestInt = std::numeric_limits<int>::max();
volatile double tooLargeForAnInt = 1e20;
volatile int sink = 0;

// A report that let the process go on would let the test that met it pass.
TEST(SanitizerBuild, UndefinedBehaviourEndsTheProcessThatMeetsIt) {
    if (std::string_view(QUORVANE_SANITIZERS).find("undefined") == std::string_view::npos)
        GTEST_SKIP() << "this build does not check for undefined behaviour";
    EXPECT_DEATH(sink = largestInt + 1, "signed integer overflow");
    EXPECT_DEATH(sink = static_cast<int>(tooLargeForAnInt), "outside the range of representable values");
}

}  // namespace
