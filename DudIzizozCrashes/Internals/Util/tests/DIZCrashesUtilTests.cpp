#include <gtest/gtest.h>

#include <filesystem>

#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

namespace fs = std::filesystem;

class DIZCrashesUtilTest : public ::testing::Test {
  protected:
    // Another test of this process may have made the directories in its own home.
    void SetUp() override { DIZCrashesUtil::resetDirectory(); }
    void TearDown() override { DIZCrashesUtil::resetDirectory(); }

    static bool exists(const std::string& name) {
        return fs::is_directory(DIZUtility::dudIzizozDirectoryURL() / name);
    }

    TestHome home_{DIZHostBundle()};
};

TEST_F(DIZCrashesUtilTest, EachDirectoryIsMadeOnItsFirstNaming) {
    struct Case {
        std::string (*accessor)();
        const char* name;
    } cases[] = {{DIZCrashesUtil::crashesDir, "crashes"},
                 {DIZCrashesUtil::logBufferDir, "crasheslogbuffer"},
                 {DIZCrashesUtil::wrapperExceptionsDir, "crasheswrapperexceptions"}};
    for (const auto& c : cases) {
        EXPECT_FALSE(exists(c.name));
        EXPECT_EQ(c.accessor(), c.name);
        EXPECT_TRUE(exists(c.name)) << c.name;
    }
}

TEST_F(DIZCrashesUtilTest, ADeletedDirectoryComesBackOnlyAfterReset) {
    EXPECT_EQ(DIZCrashesUtil::crashesDir(), "crashes");
    ASSERT_TRUE(DIZUtility::deleteItemForPathComponent("crashes"));
    EXPECT_EQ(DIZCrashesUtil::crashesDir(), "crashes") << "still named";
    EXPECT_FALSE(exists("crashes")) << "but not made again while the process runs";

    DIZCrashesUtil::resetDirectory();
    EXPECT_EQ(DIZCrashesUtil::crashesDir(), "crashes");
    EXPECT_TRUE(exists("crashes"));
}

}  // namespace
