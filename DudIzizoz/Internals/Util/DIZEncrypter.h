#pragma once
// Encryption of stored secrets: AES-256-CBC with PKCS7 padding, authenticated by HMAC-SHA256 of
// the ciphertext, under subkeys derived from one of two 32-byte slot keys kept in the keychain.
// The slot in use changes once a year; every value names its slot, so older values stay readable.
// Stored form: metadata "<tag>/AES/HmacSHA256/CBC/PKCS7/32", ":", IV (16), MAC (32), ciphertext.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/security/CommonCrypto.h"

inline constexpr const char* kDIZEncryptionKeyTagOriginal = "kDZEncryptionKeyTag";
inline constexpr const char* kDIZEncryptionKeyTagAlternate = "kDZEncryptionKeyTagAlternate";
inline constexpr const char* kDIZEncryptionKeyMetadataKey = "EncryptionKeyMetadata";
inline constexpr double kDIZEncryptionKeyLifetime = 365.0 * 24 * 60 * 60;

class DIZEncrypter {
  public:
    static constexpr size_t kKeySize = kCCKeySizeAES256;
    static constexpr size_t kIvSize = kCCBlockSizeAES128;
    static constexpr size_t kMacSize = CC_SHA256_DIGEST_LENGTH;
    static constexpr size_t kMacKeySize = 16;

    // Base64 text, or nothing when encryption failed.
    std::optional<std::string> encryptString(const std::string& string);
    std::optional<Data> encryptData(const Data& data);
    // Nothing for text that is no base64, data that fails authentication or decryption, and
    // plaintext that is no UTF-8.
    std::optional<std::string> decryptString(const std::string& string);
    std::optional<Data> decryptData(const Data& data);

    // The slot in use; rotates when its year has passed.
    static std::string getCurrentKeyTag();
    static void rotateToNewKeyTag(const std::string& newKeyTag);
    // Nothing when the secure random source fails or the key cannot be stored. A slot that holds a
    // key already keeps it, and that key is returned.
    static std::optional<Data> generateAndSaveKeyWithTag(const std::string& keyTag);
    static std::optional<Data> generateInitializationVector();
    static Data getMetadataStringWithKeyTag(const std::string& keyTag, const std::string& algorithmName);
    // The earlier format's metadata, without the MAC algorithm.
    static Data getMetadataStringWithKeyTag(const std::string& keyTag);
    static std::optional<Data> performCryptoOperation(CCOperation operation, const Data& input,
                                                      const Data& initializationVector, const Data& key);

    // The key of a slot: held, from the keychain, or made and saved; nothing when none can be saved.
    std::optional<Data> getKeyWithKeyTag(const std::string& keyTag);
    // Throws Exception "Invalid output data length." for a size below 1.
    Data getSubkey(const Data& key, size_t outputSize);
    Data getMacBytes(const Data& macKey, const Data& data);
    std::optional<size_t> loadMetadataLocation(const Data& data);
    std::optional<std::string> loadMetadata(const Data& data, size_t metadataLocation);
    bool hasOldMetadata(const std::string& metadata, const std::string& keyTag);

  private:
    std::optional<Data> decryptCurrentFormat(const Data& data, size_t afterSeparator, const Data& key);

    std::mutex keysMutex_;
    std::optional<Data> originalKeyData_;
    std::optional<Data> alternateKeyData_;
};
