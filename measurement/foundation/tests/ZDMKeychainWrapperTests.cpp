#include <gtest/gtest.h>

#include "measurement/foundation/ZDMKeychainWrapper.h"
#include "measurement/foundation/ZDMNotificationNames.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/security/SecItem.h"

namespace {

constexpr const char* kAppID = "1:123:ios:abc";

class KeychainWrapper : public ::testing::Test {
  protected:
    TestHome home_;
};

TEST_F(KeychainWrapper, UpsertReadUpdateAndDeleteOneItem) {
    EXPECT_EQ(ZDMKeychainWrapper::keychainValueWithIdentifier("token", kAppID), std::nullopt);
    ASSERT_TRUE(ZDMKeychainWrapper::upsertKeychainValue("first", "token", kAppID));
    EXPECT_EQ(ZDMKeychainWrapper::keychainValueWithIdentifier("token", kAppID), "first");
    ASSERT_TRUE(ZDMKeychainWrapper::upsertKeychainValue("second", "token", kAppID));
    EXPECT_EQ(ZDMKeychainWrapper::keychainValueWithIdentifier("token", kAppID), "second");
    EXPECT_EQ(ZDMKeychainWrapper::keychainDataWithIdentifier("token", kAppID),
              (Data{'s', 'e', 'c', 'o', 'n', 'd'}));
    EXPECT_EQ(ZDMKeychainWrapper::keychainValueWithIdentifier("token", "other app"), std::nullopt);
    EXPECT_FALSE(ZDMKeychainWrapper::isMigrationNeededForIdentifier("token", kAppID));
    ZDMKeychainWrapper::deleteKeychainValueWithIdentifier("token", kAppID);
    EXPECT_EQ(ZDMKeychainWrapper::keychainDataWithIdentifier("token", kAppID), std::nullopt);
}

TEST_F(KeychainWrapper, EmptyValuesAndNamesStoreNothing) {
    struct Case {
        const char* value;
        const char* identifier;
        const char* appID;
    } cases[] = {{"", "token", kAppID}, {"value", "", kAppID}, {"value", "token", ""}};
    for (const Case& c : cases) {
        EXPECT_FALSE(ZDMKeychainWrapper::upsertKeychainValue(c.value, c.identifier, c.appID)) << c.value;
        EXPECT_EQ(ZDMKeychainWrapper::searchDirectoryForIdentifier(c.identifier, c.appID).has_value(),
                  *c.identifier && *c.appID);
    }
    EXPECT_EQ(ZDMKeychainWrapper::keychainDataWithIdentifier("token", kAppID), std::nullopt);
}

TEST_F(KeychainWrapper, AnItemWithItsGenericAttributeStoredAsDataNeedsMigration) {
    EXPECT_FALSE(ZDMKeychainWrapper::isMigrationNeededForIdentifier("token", kAppID));
    Dictionary item;
    item.set(kSecClass, Value(kSecClassGenericPassword));
    item.set(kSecAttrService, Value(kAppID));
    item.set(kSecAttrAccount, Value("token"));
    item.set(kSecAttrGeneric, Value(Data{'t', 'o', 'k', 'e', 'n'}));
    item.set(kSecValueData, Value(Data{'o', 'l', 'd'}));
    ASSERT_EQ(SecItemAdd(item), errSecSuccess);
    EXPECT_TRUE(ZDMKeychainWrapper::isMigrationNeededForIdentifier("token", kAppID));
    EXPECT_EQ(ZDMKeychainWrapper::keychainValueWithIdentifier("token", kAppID), "old");
}

TEST(NotificationNames, AreThePlatformsNames) {
    EXPECT_EQ(ZDMAppDidBecomeActiveNotificationName(), "NSApplicationDidBecomeActiveNotification");
    EXPECT_EQ(ZDMAppDidFinishLaunchingNotificationName(), "NSApplicationDidFinishLaunchingNotification");
    EXPECT_EQ(ZDMAppWillResignActiveNotificationName(), "NSApplicationWillResignActiveNotification");
    EXPECT_EQ(ZDMWindowDidResignKeyNotificationName(), "NSWindowDidResignKeyNotification");
    ZDMLinkNotificationNames();
}

}  // namespace
