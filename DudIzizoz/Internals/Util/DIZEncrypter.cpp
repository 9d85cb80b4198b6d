#include "DudIzizoz/Internals/Util/DIZEncrypter.h"

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZKeychainUtil.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Unicode.h"
#include "platform/security/SecRandom.h"

namespace {
constexpr uint8_t kMetadataSeparator = ':';
constexpr const char* kAlgorithmName = "AES/HmacSHA256";
constexpr const char* kEarlierAlgorithmName = "AES";

// Guards the choice of slot and the creation of keys across the process, so two threads never
// make two different keys for one slot.
std::recursive_mutex& keyLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Tags come from stored text; any other tag would make keychain items under names of its choosing.
bool isKnownTag(const std::string& tag) {
    return tag == kDIZEncryptionKeyTagOriginal || tag == kDIZEncryptionKeyTagAlternate;
}

// Nothing when the source fails: a key or IV of predictable bytes would be worse than none.
std::optional<Data> randomBytes(size_t count, int* status) {
    Data bytes(count);
    *status = SecRandomCopyBytes(kSecRandomDefault, count, bytes.data());
    if (*status != errSecSuccess) return std::nullopt;
    return bytes;
}

// Nothing also for a stored text that is no key of the right length: nothing can be encrypted
// under it.
std::optional<Data> keyFromKeychain(const std::string& keyTag, OSStatus* status = nullptr) {
    auto text = DIZKeychainUtil::stringForKey(keyTag, status);
    auto key = text ? base64Decode(*text) : std::nullopt;
    if (!key || key->size() != DIZEncrypter::kKeySize) return std::nullopt;
    return key;
}

Data slice(const Data& data, size_t from, size_t length) {
    return Data(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(from + length));
}
}  // namespace

std::optional<std::string> DIZEncrypter::encryptString(const std::string& string) {
    auto encrypted = encryptData(dataFromString(string));
    if (!encrypted) return std::nullopt;
    return base64Encode(*encrypted);
}

std::optional<Data> DIZEncrypter::encryptData(const Data& data) {
    const std::string keyTag = getCurrentKeyTag();
    auto key = getKeyWithKeyTag(keyTag);
    auto iv = generateInitializationVector();
    if (!key || !iv) return std::nullopt;
    auto cipherText = performCryptoOperation(kCCEncrypt, data, *iv, getSubkey(*key, kKeySize));
    if (!cipherText) return std::nullopt;
    const Data mac = getMacBytes(getSubkey(*key, kMacKeySize), *cipherText);

    Data result = getMetadataStringWithKeyTag(keyTag, kAlgorithmName);
    result.push_back(kMetadataSeparator);
    result.insert(result.end(), iv->begin(), iv->end());
    result.insert(result.end(), mac.begin(), mac.end());
    result.insert(result.end(), cipherText->begin(), cipherText->end());
    return result;
}

std::optional<std::string> DIZEncrypter::decryptString(const std::string& string) {
    auto data = base64Decode(string);
    if (!data) {
        DIZLogWarning(kDIZLogTag, "Conversion of encrypted string to NSData failed.");
        return std::nullopt;
    }
    auto plain = decryptData(*data);
    if (!plain) return std::nullopt;
    std::string text = stringFromData(*plain);
    if (!isValidUtf8(text)) {
        DIZLogWarning(kDIZLogTag, "Converting decrypted NSData to NSString failed.");
        return std::nullopt;
    }
    return text;
}

std::optional<Data> DIZEncrypter::decryptData(const Data& data) {
    auto location = loadMetadataLocation(data);
    if (!location) {
        // The earliest values carry no metadata: the main slot's key itself, and a zero IV.
        auto key = getKeyWithKeyTag(kDIZEncryptionKeyTagOriginal);
        if (!key) return std::nullopt;
        return performCryptoOperation(kCCDecrypt, data, Data(kIvSize, 0), *key);
    }
    auto metadata = loadMetadata(data, *location);
    if (!metadata) return std::nullopt;
    const std::string keyTag = metadata->substr(0, metadata->find('/'));
    if (!isKnownTag(keyTag)) {
        DIZLogError(kDIZLogTag, "Unknown encryption key tag '%@'.", keyTag);
        return std::nullopt;
    }
    auto key = getKeyWithKeyTag(keyTag);
    if (!key) return std::nullopt;

    const size_t afterSeparator = *location + 1;
    if (!hasOldMetadata(*metadata, keyTag)) return decryptCurrentFormat(data, afterSeparator, *key);
    if (data.size() - afterSeparator < kIvSize) return std::nullopt;
    const Data iv = slice(data, afterSeparator, kIvSize);
    const Data cipherText = slice(data, afterSeparator + kIvSize, data.size() - afterSeparator - kIvSize);
    return performCryptoOperation(kCCDecrypt, cipherText, iv, *key);
}

// A value whose MAC does not match was altered or belongs to another key: it is refused, never
// decrypted.
std::optional<Data> DIZEncrypter::decryptCurrentFormat(const Data& data, size_t afterSeparator,
                                                       const Data& key) {
    if (data.size() - afterSeparator < kIvSize + kMacSize) return std::nullopt;
    const Data iv = slice(data, afterSeparator, kIvSize);
    const Data mac = slice(data, afterSeparator + kIvSize, kMacSize);
    const size_t cipherStart = afterSeparator + kIvSize + kMacSize;
    const Data cipherText = slice(data, cipherStart, data.size() - cipherStart);
    const Data expected = getMacBytes(getSubkey(key, kMacKeySize), cipherText);
    if (timingsafe_bcmp(mac.data(), expected.data(), kMacSize) != 0) {
        DIZLogError(kDIZLogTag, "Could not authenticate MAC value.");
        return std::nullopt;
    }
    return performCryptoOperation(kCCDecrypt, cipherText, iv, getSubkey(key, kKeySize));
}

std::string DIZEncrypter::getCurrentKeyTag() {
    std::lock_guard lock(keyLock());
    auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(kDIZEncryptionKeyMetadataKey);
    if (!stored || !stored->isString()) {
        rotateToNewKeyTag(kDIZEncryptionKeyTagAlternate);
        return kDIZEncryptionKeyTagAlternate;
    }
    const std::string& metadata = *stored->asString();
    const size_t slash = metadata.find('/');
    const std::string keyTag = metadata.substr(0, slash);
    if (slash != std::string::npos && isKnownTag(keyTag)) {
        auto expiry = DIZUtility::dateFromISO8601(metadata.substr(slash + 1));
        if (expiry && !(*expiry < Date::now())) return keyTag;
    }
    const std::string next =
        keyTag == kDIZEncryptionKeyTagOriginal ? kDIZEncryptionKeyTagAlternate : kDIZEncryptionKeyTagOriginal;
    rotateToNewKeyTag(next);
    return next;
}

void DIZEncrypter::rotateToNewKeyTag(const std::string& newKeyTag) {
    const Date expiry = Date::now().addingTimeInterval(kDIZEncryptionKeyLifetime);
    DIZDudIzizozUserDefaults::shared()->setObject(Value(newKeyTag + "/" + DIZUtility::dateToISO8601(expiry)),
                                                  kDIZEncryptionKeyMetadataKey);
}

// A key that could not be stored is never handed out: values encrypted with it could not be read
// after a restart. The key is added only to an empty slot, so when another process made the
// slot's key first, that key is kept and returned and both encrypt under the same one.
std::optional<Data> DIZEncrypter::generateAndSaveKeyWithTag(const std::string& keyTag) {
    int status = 0;
    auto key = randomBytes(kKeySize, &status);
    if (!key) {
        DIZLogError(kDIZLogTag, "Error generating encryption key. Error code: %d", status);
        return std::nullopt;
    }
    const std::string text = base64Encode(*key);
    Dictionary item = DIZKeychainUtil::generateItem(keyTag, DIZKeychainUtil::defaultServiceName());
    item.set(kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    item.set(kSecValueData, dataFromString(text));
    const OSStatus added = DIZKeychainUtil::addSecItem(item);
    if (added == errSecSuccess) return key;
    if (added == errSecDuplicateItem) {
        OSStatus read = errSecSuccess;
        if (auto stored = keyFromKeychain(keyTag, &read)) return stored;
        // What the slot holds is no key, so nothing was ever encrypted under it: replace it.
        if (read == errSecSuccess && DIZKeychainUtil::storeString(text, keyTag)) return key;
    }
    DIZLogError(kDIZLogTag, "Could not store the encryption key with tag '%@'. OS Status code %i", keyTag,
                added);
    return std::nullopt;
}

std::optional<Data> DIZEncrypter::generateInitializationVector() {
    int status = 0;
    auto iv = randomBytes(kIvSize, &status);
    if (!iv) DIZLogError(kDIZLogTag, "Error generating initialization vector. Error code: %d", status);
    return iv;
}

Data DIZEncrypter::getMetadataStringWithKeyTag(const std::string& keyTag, const std::string& algorithmName) {
    return dataFromString(keyTag + "/" + algorithmName + "/CBC/PKCS7/" + std::to_string(kKeySize));
}

Data DIZEncrypter::getMetadataStringWithKeyTag(const std::string& keyTag) {
    return getMetadataStringWithKeyTag(keyTag, kEarlierAlgorithmName);
}

std::optional<Data> DIZEncrypter::performCryptoOperation(CCOperation operation, const Data& input,
                                                         const Data& initializationVector, const Data& key) {
    // A key of another length would be read past its end.
    if (key.size() != kKeySize || initializationVector.size() != kIvSize) {
        DIZLogError(kDIZLogTag, "Error performing encryption or decryption.");
        return std::nullopt;
    }
    Data output(input.size() + kCCBlockSizeAES128 + 1);
    size_t moved = 0;
    const CCCryptorStatus status = CCCrypt(operation, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(),
                                           kKeySize, initializationVector.data(), input.data(), input.size(),
                                           output.data(), output.size(), &moved);
    if (status != kCCSuccess) {
        DIZLogError(kDIZLogTag, "Error performing encryption or decryption.");
        return std::nullopt;
    }
    output.resize(moved);
    return output;
}

std::optional<Data> DIZEncrypter::getKeyWithKeyTag(const std::string& keyTag) {
    if (!isKnownTag(keyTag)) return std::nullopt;
    std::optional<Data>& slot = keyTag == kDIZEncryptionKeyTagOriginal ? originalKeyData_ : alternateKeyData_;
    {
        std::lock_guard lock(keysMutex_);
        if (slot) return slot;
    }
    auto key = keyFromKeychain(keyTag);
    if (!key) {
        std::lock_guard lock(keyLock());
        key = keyFromKeychain(keyTag);
        if (!key) key = generateAndSaveKeyWithTag(keyTag);
    }
    std::lock_guard lock(keysMutex_);
    if (key) slot = key;
    return key;
}

Data DIZEncrypter::getSubkey(const Data& key, size_t outputSize) {
    if (outputSize < 1)
        throw Exception("Invalid output data length.", "Output data length must be greater than zero.");
    Data subkey;
    Data block;
    for (uint8_t counter = 0; subkey.size() < outputSize; ++counter) {
        Data input = block;
        input.push_back(counter);
        block = getMacBytes(key, input);
        subkey.insert(subkey.end(), block.begin(), block.end());
    }
    subkey.resize(outputSize);
    return subkey;
}

Data DIZEncrypter::getMacBytes(const Data& macKey, const Data& data) {
    Data mac(kMacSize);
    CCHmac(kCCHmacAlgSHA256, macKey.data(), macKey.size(), data.data(), data.size(), mac.data());
    return mac;
}

std::optional<size_t> DIZEncrypter::loadMetadataLocation(const Data& data) {
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == kMetadataSeparator) return i;
    }
    return std::nullopt;
}

std::optional<std::string> DIZEncrypter::loadMetadata(const Data& data, size_t metadataLocation) {
    if (metadataLocation > data.size()) return std::nullopt;
    std::string metadata(data.begin(), data.begin() + static_cast<long>(metadataLocation));
    if (!isValidUtf8(metadata)) return std::nullopt;
    return metadata;
}

bool DIZEncrypter::hasOldMetadata(const std::string& metadata, const std::string& keyTag) {
    return dataFromString(metadata) == getMetadataStringWithKeyTag(keyTag);
}
