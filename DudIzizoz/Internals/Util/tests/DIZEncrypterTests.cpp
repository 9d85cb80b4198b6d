#include <gtest/gtest.h>

#include <algorithm>

#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZEncrypter.h"
#include "DudIzizoz/Internals/Util/DIZKeychainUtil.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

constexpr double kYear = 365.0 * 24 * 60 * 60;

Data bytes(std::initializer_list<std::string_view> parts) {
    Data out;
    for (auto part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Data operator+(Data a, const Data& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string storedMetadata() {
    auto value = DIZDudIzizozUserDefaults::shared()->objectForKey(kDIZEncryptionKeyMetadataKey);
    return value && value->isString() ? *value->asString() : "";
}

class DIZEncrypterTest : public ::testing::Test {
  protected:
    // A fixed key in the main slot, as an earlier version of the client would have left it.
    Data storeFixedOriginalKey() {
        Data key(32);
        for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 7 + 1);
        EXPECT_TRUE(DIZKeychainUtil::storeString(base64Encode(key), kDIZEncryptionKeyTagOriginal));
        return key;
    }

    TestHome home{DIZHostBundle()};
    ScopedManualClock clock;
    DIZLogCapture logs;
    DIZEncrypter encrypter;
};

TEST_F(DIZEncrypterTest, FreshInstallUsesTheAlternateSlotForAYearAndRoundTrips) {
    auto encrypted = encrypter.encryptString("target-token-\xC3\xA9");
    ASSERT_TRUE(encrypted);

    const std::string expiry = DIZUtility::dateToISO8601(Date::now().addingTimeInterval(kYear));
    EXPECT_EQ(storedMetadata(), std::string(kDIZEncryptionKeyTagAlternate) + "/" + expiry);
    auto key = DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagAlternate);
    ASSERT_TRUE(key);
    EXPECT_EQ(base64Decode(*key)->size(), 32u);

    const Data raw = *base64Decode(*encrypted);
    const std::string metadata = "kDZEncryptionKeyTagAlternate/AES/HmacSHA256/CBC/PKCS7/32:";
    ASSERT_GT(raw.size(), metadata.size() + 48);
    EXPECT_EQ(std::string(raw.begin(), raw.begin() + static_cast<long>(metadata.size())), metadata);
    EXPECT_EQ((raw.size() - metadata.size() - 48) % 16, 0u);  // whole cipher blocks

    EXPECT_EQ(encrypter.decryptString(*encrypted), "target-token-\xC3\xA9");
    EXPECT_EQ(DIZEncrypter().decryptString(*encrypted),
              "target-token-\xC3\xA9");  // the key comes from the keychain
    EXPECT_NE(encrypter.encryptString("target-token-\xC3\xA9"), encrypted);  // a fresh IV every time
}

// Values encrypted with a key that is not in the keychain could not be read after a restart, and
// two encrypters holding two such keys could not read each other's values.
TEST_F(DIZEncrypterTest, KeyThatCouldNotBeStoredIsNeverUsedAndEveryEncrypterSharesTheStoredOne) {
    const auto keychains = FileLocations::applicationSupportDirectory() / "Keychains";
    ASSERT_TRUE(FileLocations::writeFileAtomically(keychains, dataFromString("no directory")));
    DIZEncrypter other;
    EXPECT_EQ(encrypter.encryptString("token"), std::nullopt);
    EXPECT_EQ(other.encryptString("token"), std::nullopt);

    std::filesystem::remove(keychains);
    auto encrypted = encrypter.encryptString("token");
    ASSERT_TRUE(encrypted);
    EXPECT_EQ(other.decryptString(*encrypted), "token");
    EXPECT_EQ(DIZEncrypter().decryptString(*encrypted), "token");
}

// Another process may fill the slot between this one's look-up and its store; its key is the one
// in use from then on.
TEST_F(DIZEncrypterTest, NewKeyForAFilledSlotIsTheStoredOneUnlessTheSlotHoldsNoKey) {
    const Data stored = storeFixedOriginalKey();
    EXPECT_EQ(DIZEncrypter::generateAndSaveKeyWithTag(kDIZEncryptionKeyTagOriginal), stored);
    EXPECT_EQ(DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagOriginal), base64Encode(stored));

    ASSERT_TRUE(DIZKeychainUtil::storeString("no key", kDIZEncryptionKeyTagOriginal));
    auto replacement = DIZEncrypter::generateAndSaveKeyWithTag(kDIZEncryptionKeyTagOriginal);
    ASSERT_TRUE(replacement);
    EXPECT_EQ(DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagOriginal), base64Encode(*replacement));
}

TEST_F(DIZEncrypterTest, ExpiredSlotRotatesAndOlderValuesStillDecrypt) {
    auto before = encrypter.encryptString("first");
    clock->advance(kYear);  // the last moment of the year still counts
    EXPECT_EQ(DIZEncrypter::getCurrentKeyTag(), kDIZEncryptionKeyTagAlternate);
    clock->advance(1);

    auto after = encrypter.encryptString("second");
    EXPECT_EQ(storedMetadata(), std::string(kDIZEncryptionKeyTagOriginal) + "/" +
                                    DIZUtility::dateToISO8601(Date::now().addingTimeInterval(kYear)));
    EXPECT_TRUE(DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagOriginal));
    DIZEncrypter later;
    EXPECT_EQ(later.decryptString(*before), "first");
    EXPECT_EQ(later.decryptString(*after), "second");

    clock->advance(kYear + 1);  // and back to the first slot, whose key is kept
    const std::string keptKey = *DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagAlternate);
    EXPECT_EQ(DIZEncrypter::getCurrentKeyTag(), kDIZEncryptionKeyTagAlternate);
    EXPECT_EQ(DIZKeychainUtil::stringForKey(kDIZEncryptionKeyTagAlternate), keptKey);
}

TEST_F(DIZEncrypterTest, UnreadableMetadataRotatesToTheOtherSlot) {
    struct Case {
        std::string metadata;
        const char* expected;
    };
    const Case cases[] = {
        {"kDZEncryptionKeyTag/not a date", kDIZEncryptionKeyTagAlternate},
        {"kDZEncryptionKeyTagAlternate", kDIZEncryptionKeyTagOriginal},
        {"kDZSomeOtherTag/2099-01-01T00:00:00.000Z", kDIZEncryptionKeyTagOriginal},
    };
    for (const Case& c : cases) {
        DIZDudIzizozUserDefaults::shared()->setObject(Value(c.metadata), kDIZEncryptionKeyMetadataKey);
        EXPECT_EQ(DIZEncrypter::getCurrentKeyTag(), c.expected) << c.metadata;
        EXPECT_TRUE(storedMetadata().starts_with(std::string(c.expected) + "/")) << c.metadata;
    }
}

TEST_F(DIZEncrypterTest, BothEarlierFormatsDecrypt) {
    const Data key = storeFixedOriginalKey();
    const Data iv(16, 0x24);
    const Data plain = dataFromString("legacy token");

    auto cipherText = DIZEncrypter::performCryptoOperation(kCCEncrypt, plain, iv, key);
    ASSERT_TRUE(cipherText);
    const Data withoutMac = DIZEncrypter::getMetadataStringWithKeyTag(kDIZEncryptionKeyTagOriginal) +
                            bytes({":"}) + iv + *cipherText;
    EXPECT_EQ(encrypter.decryptData(withoutMac), plain);

    auto bare = DIZEncrypter::performCryptoOperation(kCCEncrypt, plain, Data(16, 0), key);
    ASSERT_TRUE(bare);
    ASSERT_EQ(std::count(bare->begin(), bare->end(), ':'), 0);  // else it would read as having metadata
    EXPECT_EQ(encrypter.decryptData(*bare), plain);
}

TEST_F(DIZEncrypterTest, AlteredOrShortDataGivesNothing) {
    const Data good = *encrypter.encryptData(dataFromString("secret"));
    const size_t body = good.size() - (16 + 32 + 16);  // where the IV starts
    auto flipped = [&](size_t at) {
        Data copy = good;
        copy[at] ^= 0x01;
        return copy;
    };
    struct Case {
        const char* what;
        Data data;
    };
    const Case cases[] = {
        {"one MAC byte", flipped(body + 16 + 31)},
        {"one ciphertext byte", flipped(good.size() - 1)},
        {"no ciphertext", Data(good.begin(), good.begin() + static_cast<long>(body + 48))},
        {"cut inside the MAC", Data(good.begin(), good.begin() + static_cast<long>(body + 20))},
        {"metadata only", Data(good.begin(), good.begin() + static_cast<long>(body))},
        {"earlier metadata, short IV",
         DIZEncrypter::getMetadataStringWithKeyTag(kDIZEncryptionKeyTagAlternate) + bytes({":", "short"})},
        {"unknown slot", bytes({"kDZStolenTag/AES/HmacSHA256/CBC/PKCS7/32:"}) + Data(64, 1)},
        {"no metadata, not a block", Data(5, 7)},
    };
    for (const Case& c : cases) EXPECT_EQ(encrypter.decryptData(c.data), std::nullopt) << c.what;
    EXPECT_TRUE(logs.contains("Could not authenticate MAC value."));
    EXPECT_FALSE(DIZKeychainUtil::stringForKey("kDZStolenTag"));
}

TEST_F(DIZEncrypterTest, TextThatIsNoBase64OrDecryptsToNoUtf8GivesNothing) {
    EXPECT_EQ(encrypter.decryptString("not base64!"), std::nullopt);
    EXPECT_TRUE(logs.contains("Conversion of encrypted string to NSData failed."));

    auto encrypted = encrypter.encryptData(Data{0xFF, 0xFE});
    EXPECT_EQ(encrypter.decryptString(base64Encode(*encrypted)), std::nullopt);
    EXPECT_TRUE(logs.contains("Converting decrypted NSData to NSString failed."));
}

TEST_F(DIZEncrypterTest, SubkeysChainHmacBlocksAndRefuseAnEmptyLength) {
    const Data key(32, 0x0B);
    const Data first = encrypter.getMacBytes(key, Data{0x00});
    const Data second = encrypter.getMacBytes(key, first + Data{0x01});
    EXPECT_EQ(encrypter.getSubkey(key, 32), first);
    EXPECT_EQ(encrypter.getSubkey(key, 16), Data(first.begin(), first.begin() + 16));
    EXPECT_EQ(encrypter.getSubkey(key, 40), first + Data(second.begin(), second.begin() + 8));
    try {
        encrypter.getSubkey(key, 0);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), "Invalid output data length.");
        EXPECT_EQ(e.reason(), "Output data length must be greater than zero.");
    }
}

TEST_F(DIZEncrypterTest, KeyOfTheWrongLengthIsRefused) {
    EXPECT_EQ(DIZEncrypter::performCryptoOperation(kCCEncrypt, Data(4, 1), Data(16, 0), Data(16, 2)),
              std::nullopt);
    EXPECT_TRUE(logs.contains("Error performing encryption or decryption."));
}

}  // namespace
