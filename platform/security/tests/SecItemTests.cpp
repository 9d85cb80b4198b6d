#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/security/SecItem.h"

namespace {

Dictionary item(const std::string& service, const std::string& account) {
    return {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, service}, {kSecAttrAccount, account}};
}

Dictionary withData(Dictionary query, const std::string& text) {
    query.set(kSecValueData, dataFromString(text));
    query.set(kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    return query;
}

std::optional<std::string> read(const std::string& service, const std::string& account) {
    Dictionary query = item(service, account);
    query.set(kSecReturnData, true);
    query.set(kSecMatchLimit, kSecMatchLimitOne);
    Value result;
    if (SecItemCopyMatching(query, &result) != errSecSuccess || !result.isData()) return std::nullopt;
    return stringFromData(*result.asData());
}

std::filesystem::path keychainDirectory() {
    return FileLocations::applicationSupportDirectory() / "Keychains";
}

TEST(SecItemTest, ItemsAreKeptByServiceAndAccountInAPrivateFile) {
    TestHome home;
    EXPECT_EQ(SecItemAdd(withData(item("svc", "a"), "one")), errSecSuccess);
    EXPECT_EQ(SecItemAdd(withData(item("svc", "b"), "two")), errSecSuccess);
    EXPECT_EQ(SecItemAdd(withData(item("other", "a"), "three")), errSecSuccess);
    EXPECT_EQ(SecItemAdd(withData(item("svc", "a"), "again")), errSecDuplicateItem);

    EXPECT_EQ(read("svc", "a"), "one");
    EXPECT_EQ(read("other", "a"), "three");
    EXPECT_EQ(read("svc", "missing"), std::nullopt);
    Value untouched;
    EXPECT_EQ(SecItemCopyMatching(item("svc", "missing"), &untouched), errSecItemNotFound);

    auto files = std::filesystem::directory_iterator(keychainDirectory());
    for (const auto& entry : files) {
        struct stat info {};
        ASSERT_EQ(stat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << entry.path();
    }
}

TEST(SecItemTest, DeleteRemovesEveryMatchAndReportsWhenNothingMatched) {
    TestHome home;
    SecItemAdd(withData(item("svc", "a"), "one"));
    SecItemAdd(withData(item("svc", "b"), "two"));
    SecItemAdd(withData(item("other", "a"), "three"));

    EXPECT_EQ(SecItemDelete(item("svc", "a")), errSecSuccess);
    EXPECT_EQ(SecItemDelete(item("svc", "a")), errSecItemNotFound);
    Dictionary wholeService{{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"}};
    EXPECT_EQ(SecItemDelete(wholeService), errSecSuccess);
    EXPECT_EQ(read("svc", "b"), std::nullopt);
    EXPECT_EQ(read("other", "a"), "three");
}

TEST(SecItemTest, MalformedCallsAreRefused) {
    TestHome home;
    Dictionary noClass{{kSecAttrService, "svc"}, {kSecAttrAccount, "a"}, {kSecValueData, Data{1}}};
    Dictionary textValue = item("svc", "a");
    textValue.set(kSecValueData, "not data");
    EXPECT_EQ(SecItemAdd(noClass), errSecParam);
    EXPECT_EQ(SecItemAdd(textValue), errSecParam);
    EXPECT_EQ(SecItemAdd(item("svc", "a")), errSecParam);
    EXPECT_EQ(SecItemDelete(Dictionary{}), errSecParam);
}

TEST(SecItemTest, UnreadableStoreIsKeptAsideAndTheKeychainStartsEmpty) {
    TestHome home;
    ASSERT_TRUE(
        FileLocations::writeFileAtomically(keychainDirectory() / "keychain.plist", dataFromString("junk")));
    EXPECT_EQ(read("svc", "a"), std::nullopt);
    EXPECT_EQ(SecItemAdd(withData(item("svc", "a"), "one")), errSecSuccess);
    EXPECT_EQ(read("svc", "a"), "one");

    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(keychainDirectory())) {
        if (entry.path().filename().string().starts_with("keychain.plist.corrupt-")) {
            ++aside;
            EXPECT_EQ(FileLocations::readFile(entry.path()), dataFromString("junk"));
        }
    }
    EXPECT_EQ(aside, 1);
}

}  // namespace
