#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

constexpr int kRacingItems = 25;
constexpr const char* kRacePrefixVariable = "SECITEM_RACE_PREFIX";
constexpr const char* kRaceStartVariable = "SECITEM_RACE_START_FD";

// Runs only as a child of TwoProcessesAddingAtOnceKeepEveryItem: waits until the parent lets every
// child go at once, then adds its items.
TEST(SecItemRaceChild, AddsItsItems) {
    const char* prefix = std::getenv(kRacePrefixVariable);
    const char* start = std::getenv(kRaceStartVariable);
    if (!prefix || !start) GTEST_SKIP() << "runs as a child process only";
    char byte = 0;
    ASSERT_EQ(::read(std::atoi(start), &byte, 1), 0) << "the parent closes the pipe to start";
    for (int i = 0; i < kRacingItems; ++i)
        ASSERT_EQ(SecItemAdd(withData(item("svc", prefix + std::to_string(i)), "value")), errSecSuccess);
}

pid_t spawnRacingChild(const std::string& prefix, int startFd, int closeFd) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    std::vector<std::string> environment{std::string(kRacePrefixVariable) + "=" + prefix,
                                         std::string(kRaceStartVariable) + "=" + std::to_string(startFd)};
    for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=SecItemRaceChild.AddsItsItems";
    char* argv[] = {const_cast<char*>(self.c_str()), filter.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, closeFd);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawn(&child, self.c_str(), &actions, nullptr, argv, envp.data()) != 0) child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

TEST(SecItemTest, TwoProcessesAddingAtOnceKeepEveryItem) {
    TestHome home;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const pid_t first = spawnRacingChild("first-", start[0], start[1]);
    const pid_t second = spawnRacingChild("second-", start[0], start[1]);
    close(start[0]);
    close(start[1]);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    for (pid_t child : {first, second}) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int missing = 0;
    for (const std::string prefix : {"first-", "second-"}) {
        for (int i = 0; i < kRacingItems; ++i) missing += read("svc", prefix + std::to_string(i)) ? 0 : 1;
    }
    EXPECT_EQ(missing, 0);
}

// A directory where the store belongs cannot be read as one; it is reported and left alone.
TEST(SecItemTest, StoreThatCannotBeReadFailsEveryCallAndIsKept) {
    TestHome home;
    ASSERT_TRUE(FileLocations::ensureDirectory(keychainDirectory() / "keychain.plist"));
    Value result;
    EXPECT_EQ(SecItemAdd(withData(item("svc", "a"), "one")), errSecIO);
    EXPECT_EQ(SecItemCopyMatching(item("svc", "a"), &result), errSecIO);
    EXPECT_EQ(SecItemDelete(item("svc", "a")), errSecIO);
    EXPECT_TRUE(std::filesystem::is_directory(keychainDirectory() / "keychain.plist"));
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
