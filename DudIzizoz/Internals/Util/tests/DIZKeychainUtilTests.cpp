#include <gtest/gtest.h>

#include "DudIzizoz/Internals/Util/DIZKeychainUtil.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

class DIZKeychainUtilTest : public ::testing::Test {
  protected:
    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
};

TEST_F(DIZKeychainUtilTest, DefaultServiceIsTheBundleIdentifierWithTheClientName) {
    EXPECT_EQ(DIZKeychainUtil::defaultServiceName(), Bundle::mainBundle()->bundleIdentifier() + ".DudIzizoz");
}

TEST_F(DIZKeychainUtilTest, StoringReplacesAndReadingReportsTheStatus) {
    OSStatus status = 0;
    EXPECT_EQ(DIZKeychainUtil::stringForKey("token", &status), std::nullopt);
    EXPECT_EQ(status, errSecItemNotFound);

    EXPECT_TRUE(DIZKeychainUtil::storeString("one", "token"));
    EXPECT_TRUE(DIZKeychainUtil::storeString("two", "token"));
    EXPECT_EQ(DIZKeychainUtil::stringForKey("token", &status), "two");
    EXPECT_EQ(status, errSecSuccess);
    EXPECT_TRUE(logs.contains("Stored a string with key='token', service='" +
                              DIZKeychainUtil::defaultServiceName() + "' to keychain."));
}

TEST_F(DIZKeychainUtilTest, DeletingLooksUpAndDeletesInTheGivenService) {
    DIZKeychainUtil::storeString("default value", "token");
    DIZKeychainUtil::storeString("other value", "token", "other.service");

    EXPECT_EQ(DIZKeychainUtil::deleteStringForKey("token", "other.service"), "other value");
    EXPECT_EQ(DIZKeychainUtil::stringForKey("token", "other.service"), std::nullopt);
    EXPECT_EQ(DIZKeychainUtil::stringForKey("token"), "default value");
    EXPECT_EQ(DIZKeychainUtil::deleteStringForKey("token", "other.service"), std::nullopt);

    EXPECT_EQ(DIZKeychainUtil::deleteStringForKey("never stored"), std::nullopt);
    EXPECT_FALSE(logs.contains("Deleted a string with key='never stored', service='" +
                               DIZKeychainUtil::defaultServiceName() + "' from keychain."));
}

TEST_F(DIZKeychainUtilTest, ClearEmptiesOnlyTheDefaultService) {
    DIZKeychainUtil::storeString("a", "one");
    DIZKeychainUtil::storeString("b", "two");
    DIZKeychainUtil::storeString("c", "one", "other.service");

    EXPECT_TRUE(DIZKeychainUtil::clear());
    EXPECT_EQ(DIZKeychainUtil::stringForKey("one"), std::nullopt);
    EXPECT_EQ(DIZKeychainUtil::stringForKey("two"), std::nullopt);
    EXPECT_EQ(DIZKeychainUtil::stringForKey("one", "other.service"), "c");
    EXPECT_FALSE(DIZKeychainUtil::clear());  // nothing left to delete
}

}  // namespace
