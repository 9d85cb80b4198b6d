#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <future>
#include <thread>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZSessionHistoryInfo.h"
#include "DudIzizoz/Internals/Util/DIZDispatcherUtil.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

TEST(DIZUtilityTest, SecretStringGrammar) {
    struct Case {
        const char* secret;
        std::optional<std::string> appSecret;
        std::optional<std::string> token;
    } cases[] = {
        {"appsecret=ABC;target=T1-K", "ABC", "T1-K"},
        {"target=T1-K", std::nullopt, "T1-K"},
        {"macos=M;appsecret=A", "M", std::nullopt},
        {"appsecret=A;macos=M", "M", std::nullopt},
        {"ios=X;macos=", std::nullopt, std::nullopt},
        {";;appsecret=A;", "A", std::nullopt},
        {"target=;target=T2-x;target=T3", std::nullopt, "T2-x"},
        {"0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C", "0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C", std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DIZUtility::appSecretFrom(c.secret), c.appSecret) << c.secret;
        EXPECT_EQ(DIZUtility::transmissionTargetTokenFrom(c.secret), c.token) << c.secret;
    }
}

TEST(DIZUtilityTest, TargetKeysAndDigests) {
    EXPECT_EQ(DIZUtility::targetKeyFromTargetToken("abc-def-1"), "abc");
    EXPECT_EQ(DIZUtility::targetKeyFromTargetToken("nodash"), "nodash");
    EXPECT_EQ(DIZUtility::targetKeyFromTargetToken("-def"), std::nullopt);
    EXPECT_EQ(DIZUtility::iKeyFromTargetToken("abc-def"), "o:abc");
    EXPECT_EQ(DIZUtility::iKeyFromTargetToken(""), std::nullopt);
    EXPECT_EQ(DIZUtility::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DIZUtilityTest, PropertiesAreLimitedInNumberAndLength) {
    DIZLogCapture capture;
    Dictionary many;
    for (int i = 0; i < 25; ++i) many.set("key" + std::to_string(100 + i), Value("value"));
    auto limited = DIZUtility::validateProperties(many, "myEvent", "Event");
    EXPECT_EQ(limited.size(), 20u);
    EXPECT_TRUE(limited.contains("key119") && !limited.contains("key120")) << "the first 20 are kept";
    auto texts = capture.texts();
    EXPECT_EQ(
        std::count(
            texts.begin(), texts.end(),
            "Event 'myEvent' : properties cannot contain more than 20 items. Skipping other properties."),
        1);

    const std::string longKey(126, 'k');
    // 124 letters and one character of two UTF-16 units: cutting at 125 units must not split it.
    const std::string emojiValue = std::string(124, 'v') + "\xF0\x9F\x98\x80" + "tail";
    Dictionary odd{{longKey, Value("v")},
                   {"emoji", Value(emojiValue)},
                   {"", Value("no key")},
                   {"number", Value(3)},
                   {"long", Value(std::string(200, 'x'))}};
    auto valid = DIZUtility::validateProperties(odd, "myEvent", "Event");
    EXPECT_EQ(valid, (DIZProperties{{std::string(125, 'k'), "v"},
                                    {"emoji", std::string(124, 'v')},
                                    {"long", std::string(125, 'x')}}));
    EXPECT_TRUE(capture.contains(
        "Event 'myEvent' : a property key cannot be null or empty. Property will be skipped."));
    EXPECT_TRUE(
        capture.contains("Event 'myEvent' : property " + longKey +
                         " : property key length cannot be longer than 125 characters. Property key will be "
                         "truncated."));
}

TEST(DIZUtilityTest, DatesAreWrittenInUtcWithMilliseconds) {
    struct Case {
        int64_t unixMillis;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1700000000123, "2023-11-14T22:13:20.123Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {978307200000, "2001-01-01T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        Date date = Date::fromUnixMillis(c.unixMillis);
        EXPECT_EQ(DIZUtility::dateToISO8601(date), c.text);
        auto parsed = DIZUtility::dateFromISO8601(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(parsed->unixMillis(), c.unixMillis);
    }
    for (const char* bad :
         {"", "2023-11-14T22:13:20Z", "2023-02-30T00:00:00.000Z", "2023-11-14 22:13:20.123Z",
          "2023-11-14T22:13:20.123+01", "garbage-garbage-garbage!"})
        EXPECT_EQ(DIZUtility::dateFromISO8601(bad), std::nullopt) << bad;
}

TEST(DIZUtilityTest, JsonTextKeepsSlashesAndRejectsBrokenText) {
    EXPECT_EQ(DIZUtility::prettyPrintJson(std::nullopt), std::nullopt);
    auto pretty = DIZUtility::prettyPrintJson(dataFromString(R"({"url":"https://x.test/a\/b","n":1})"));
    ASSERT_TRUE(pretty);
    EXPECT_NE(pretty->find("\"https://x.test/a/b\""), std::string::npos) << *pretty;
    EXPECT_NE(pretty->find('\n'), std::string::npos);
    EXPECT_EQ(DIZUtility::prettyPrintJson(dataFromString("not json")), "not json");
    EXPECT_EQ(DIZUtility::prettyPrintJson(Data{0xff, 0xfe, 0x00}), std::nullopt);
}

// The scans mask what the regular expressions "token"\s*:\s*"[^"]+" (any case) and :[^"]+ match,
// in one pass, so text of any length from outside cannot exhaust the stack.
TEST(DIZUtilityTest, MaskingScansGiveWhatTheRegularExpressionsGive) {
    const std::string texts[] = {
        R"({"token":"abc"})",
        "{\"ToKeN\" \n:\t\v\f\r \"abc\", \"other\":\"x:y\"}",
        R"("token":"a""token":"b")",
        R"("token""token":"b")",
        R"({"token":""})",
        R"({"token":"unclosed)",
        R"({"token" x: "a"})",
        R"({"tokens":"abc"})",
        R"("token" :)",
        R"("token)",
        R"({"k1":"d:tok:en","k2":"plain","k3":"p:x"})",
        "a:b:c",
        "ends with:",
        R"(:"::x")",
        "",
    };
    for (const auto& text : texts) {
        EXPECT_EQ(DIZUtility::obfuscateTokenValues(text),
                  DIZUtility::obfuscateString(text, R"("token"\s*:\s*"[^"]+")", R"("token" : "***")"))
            << text;
        EXPECT_EQ(DIZUtility::obfuscateAfterColons(text),
                  DIZUtility::obfuscateString(text, R"(:[^"]+)", ":***"))
            << text;
    }
    EXPECT_EQ(DIZUtility::obfuscateTokenValues(std::nullopt), std::nullopt);

    const std::string huge =
        R"({"token": ")" + std::string(1 << 20, 'x') + R"(", "kept": ")" + std::string(1 << 20, 'y') + "\"}";
    EXPECT_EQ(DIZUtility::obfuscateTokenValues(huge),
              R"({"token" : "***", "kept": ")" + std::string(1 << 20, 'y') + "\"}");
    EXPECT_EQ(DIZUtility::obfuscateAfterColons("\"a\":" + std::string(1 << 20, 'z')), "\"a\":***");
}

TEST(DIZUtilityTest, ObfuscationReplacesEveryMatchOrReportsTheBadPattern) {
    DIZLogCapture capture;
    EXPECT_EQ(DIZUtility::obfuscateString("Token: ABC-123; token: def", "token: [a-z0-9-]+", "token: ***"),
              "token: ***; token: ***");
    EXPECT_EQ(DIZUtility::obfuscateString(std::nullopt, "x", "y"), std::nullopt);
    EXPECT_EQ(DIZUtility::obfuscateString("text", "([unclosed", "y"), std::nullopt);
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, DIZLogLevel::Error);
    EXPECT_TRUE(
        entries[0].text.starts_with("Couldn't create regular expression with pattern\"([unclosed\": "));
}

TEST(DIZUtilityTest, FilesLiveInTheClientsDataDirectory) {
    TestHome home{DIZHostBundle()};
    DIZLogCapture capture;
    auto directory = DIZUtility::dudIzizozDirectoryURL();
    EXPECT_EQ(directory,
              FileLocations::applicationSupportDirectory() / "com.quorvane.agent" / "com.quorvane.dudizizoz");
    EXPECT_TRUE(std::filesystem::is_directory(directory));

    auto file =
        DIZUtility::createFileAtPathComponent("crashes/a.dzcrash", dataFromString("first"), true, false);
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, directory / "crashes/a.dzcrash");
    EXPECT_EQ(
        DIZUtility::createFileAtPathComponent("crashes/a.dzcrash", dataFromString("second"), true, false),
        file);
    EXPECT_EQ(DIZUtility::loadDataForPathComponent("crashes/a.dzcrash"), dataFromString("first"));
    DIZUtility::createFileAtPathComponent("crashes/a.dzcrash", dataFromString("second"), false, true);
    EXPECT_EQ(DIZUtility::loadDataForPathComponent("crashes/a.dzcrash"), dataFromString("second"));
    DIZUtility::createFileAtPathComponent("crashes/empty", std::nullopt, true, true);
    EXPECT_EQ(DIZUtility::loadDataForPathComponent("crashes/empty"), Data{});

    auto entries = DIZUtility::contentsOfDirectory("crashes");
    ASSERT_TRUE(entries);
    EXPECT_EQ(entries->size(), 2u);
    EXPECT_TRUE(DIZUtility::deleteItemForPathComponent("crashes"));
    EXPECT_FALSE(DIZUtility::fileExistsForPathComponent("crashes/a.dzcrash"));
    EXPECT_FALSE(DIZUtility::deleteItemForPathComponent("crashes"));
    EXPECT_EQ(DIZUtility::contentsOfDirectory("crashes"), std::nullopt);

    // Nothing leaves the data directory.
    for (const char* escape : {"../outside", "a/../../outside", "/tmp/outside", ""}) {
        EXPECT_EQ(DIZUtility::createFileAtPathComponent(escape, dataFromString("x"), true, true),
                  std::nullopt)
            << escape;
        EXPECT_FALSE(DIZUtility::deleteItemForPathComponent(escape)) << escape;
    }
    EXPECT_FALSE(std::filesystem::exists(directory.parent_path() / "outside"));
}

// Archives the way an older version did, under the class's old name.
struct DIZLegacySessionHistoryInfo : DIZSessionHistoryInfo {
    using DIZSessionHistoryInfo::DIZSessionHistoryInfo;
    std::string archiveClassName() const override { return "DZSessionHistoryInfo"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DZSessionHistoryInfo", "DZHistoryInfo", "NSObject"};
    }
};

struct DIZUnlistedObject : Codable {
    std::string archiveClassName() const override { return "DIZUnlistedObject"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
    bool initWithCoder(KeyedUnarchiver&) override { return true; }
};

TEST(DIZUtilityTest, ArchivesReadBackOnlyAllowedClassesAndOldNames) {
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    DIZLogCapture capture;
    Date when = Date::fromUnixMillis(1700000000123);

    auto data = DIZUtility::archiveKeyedData(std::make_shared<DIZSessionHistoryInfo>(when, "S1"));
    auto back = DIZUtility::unarchiveKeyedData(data);
    ASSERT_TRUE(back);
    auto info = back->objectAs<DIZSessionHistoryInfo>();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->sessionId(), "S1");
    EXPECT_EQ(info->timestamp(), when);

    auto legacy = DIZUtility::archiveKeyedData(std::make_shared<DIZLegacySessionHistoryInfo>(when, "old"));
    auto migrated = DIZUtility::unarchiveKeyedData(legacy);
    ASSERT_TRUE(migrated);
    auto migratedInfo = migrated->objectAs<DIZSessionHistoryInfo>();
    ASSERT_TRUE(migratedInfo);
    EXPECT_EQ(migratedInfo->archiveClassName(), "DIZSessionHistoryInfo");
    EXPECT_EQ(migratedInfo->sessionId(), "old");

    EXPECT_TRUE(capture.texts().empty());
    EXPECT_EQ(
        DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(std::make_shared<DIZUnlistedObject>())),
        std::nullopt);
    EXPECT_EQ(DIZUtility::unarchiveKeyedData(dataFromString("not an archive")), std::nullopt);
    EXPECT_EQ(DIZUtility::unarchiveKeyedData(std::nullopt), std::nullopt);
    EXPECT_EQ(DIZUtility::archiveKeyedData(Archived()), std::nullopt);
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.level, DIZLogLevel::Error);
        EXPECT_TRUE(entry.text.starts_with("Unarchiving NSData failed with error: ")) << entry.text;
    }
    EXPECT_NE(entries[0].text.find("DIZUnlistedObject"), std::string::npos);
}

// The section's bytes as the built executable carries them.
std::optional<std::string> elfSection(const char* path, const std::string& name) {
    std::ifstream file(path, std::ios::binary);
    auto read = [&](uint64_t offset, size_t size) {
        std::string bytes(size, '\0');
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(bytes.data(), static_cast<std::streamsize>(size));
        return file ? bytes : std::string();
    };
    Elf64_Ehdr header;
    std::string head = read(0, sizeof header);
    if (head.size() != sizeof header) return std::nullopt;
    std::memcpy(&header, head.data(), sizeof header);
    std::string table = read(header.e_shoff, size_t{header.e_shnum} * sizeof(Elf64_Shdr));
    if (table.empty()) return std::nullopt;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), table.data(), table.size());
    const Elf64_Shdr& names = sections[header.e_shstrndx];
    std::string strings = read(names.sh_offset, names.sh_size);
    for (const auto& section : sections) {
        if (section.sh_name < strings.size() && strings.c_str() + section.sh_name == name)
            return read(section.sh_offset, section.sh_size);
    }
    return std::nullopt;
}

TEST(DIZUtilityTest, BinaryCarriesTheVersionRecord) {
    auto record = elfSection("/proc/self/exe", "__dz_ios");
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), 97u);
    std::string expected(97, '\0');
    expected[0] = 1;
    expected.replace(1, 15, "dudizizoz.macos");
    expected.replace(33, 5, "5.0.3");
    expected.replace(65, 1, "1");
    EXPECT_EQ(*record, expected);
    EXPECT_EQ(DIZUtility::sdkName(), "dudizizoz.macos");
    EXPECT_EQ(DIZUtility::sdkVersion(), "5.0.3");
}

TEST(DIZUtilityTest, ApplicationStateAndEnvironment) {
    EXPECT_EQ(DIZUtility::currentAppEnvironment(), DIZEnvironment::Other);
    EXPECT_EQ(DIZUtility::applicationState(), DIZApplicationState::Active);
    DIZApplicationState offMain{};
    std::thread([&] { offMain = DIZUtility::applicationState(); }).join();
    EXPECT_EQ(offMain, DIZApplicationState::Unknown);
}

TEST(DIZDispatcherUtilTest, MainThreadBlocksAndBoundedWaits) {
    bool ran = false;
    DIZDispatcherUtil::performBlockOnMainThread([&] { ran = true; });
    EXPECT_FALSE(ran);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(ran);

    ScopedManualClock clock;
    auto queue = DispatchQueue::serial("test.dispatcher");
    int result = 0;
    EXPECT_TRUE(DIZDispatcherUtil::dispatchSyncWithTimeout(5, queue, [&] { result = 42; }));
    EXPECT_EQ(result, 42);

    // A queue that stays busy: the wait ends when the clock passes the time-out.
    std::promise<void> release;
    auto released = release.get_future().share();
    queue->async([released] { released.wait(); });
    std::atomic<int> answer{-1};
    std::thread waiter([&] { answer = DIZDispatcherUtil::dispatchSyncWithTimeout(5, queue, [] {}); });
    while (clock->pendingTimers() == 0) std::this_thread::yield();
    clock->advance(4.9);
    EXPECT_EQ(answer.load(), -1);
    clock->advance(0.2);
    waiter.join();
    EXPECT_EQ(answer.load(), 0);
    release.set_value();
    queue->sync([] {});
}

}  // namespace
