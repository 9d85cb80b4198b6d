#pragma once
// Symmetric ciphers, HMAC and digests with the platform's C calling shapes. AES in CBC mode (ECB
// is not offered), keys of 16, 24 or 32 bytes, a null IV meaning sixteen zero bytes.
#include <cstddef>
#include <cstdint>

using CCCryptorStatus = int32_t;
inline constexpr CCCryptorStatus kCCSuccess = 0;
inline constexpr CCCryptorStatus kCCParamError = -4300;
inline constexpr CCCryptorStatus kCCBufferTooSmall = -4301;
inline constexpr CCCryptorStatus kCCAlignmentError = -4303;
inline constexpr CCCryptorStatus kCCDecodeError = -4304;
inline constexpr CCCryptorStatus kCCKeySizeError = -4310;

using CCOperation = uint32_t;
inline constexpr CCOperation kCCEncrypt = 0;
inline constexpr CCOperation kCCDecrypt = 1;

using CCAlgorithm = uint32_t;
inline constexpr CCAlgorithm kCCAlgorithmAES = 0;

using CCOptions = uint32_t;
inline constexpr CCOptions kCCOptionPKCS7Padding = 1;

inline constexpr size_t kCCKeySizeAES256 = 32;
inline constexpr size_t kCCBlockSizeAES128 = 16;

// One-shot encryption or decryption. On kCCBufferTooSmall, `dataOutMoved` holds the size needed.
CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key, size_t keyLength,
                        const void* iv, const void* dataIn, size_t dataInLength, void* dataOut,
                        size_t dataOutAvailable, size_t* dataOutMoved);

using CCHmacAlgorithm = uint32_t;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA256 = 2;
inline constexpr size_t CC_SHA256_DIGEST_LENGTH = 32;
inline constexpr size_t CC_MD5_DIGEST_LENGTH = 16;

// Writes the MAC (32 bytes for SHA-256) to `macOut`.
void CCHmac(CCHmacAlgorithm algorithm, const void* key, size_t keyLength, const void* data, size_t dataLength,
            void* macOut);
unsigned char* CC_SHA256(const void* data, uint32_t length, unsigned char* md);
unsigned char* CC_MD5(const void* data, uint32_t length, unsigned char* md);
// The incremental form, for input longer than the one-shot call's 32-bit length. Final frees the
// context's state; each returns 1 on success.
struct CC_MD5_CTX {
    void* state = nullptr;
};
int CC_MD5_Init(CC_MD5_CTX* context);
int CC_MD5_Update(CC_MD5_CTX* context, const void* data, size_t length);
int CC_MD5_Final(unsigned char* md, CC_MD5_CTX* context);

// Compares in time that depends only on `length`, not on where the bytes differ; 0 when equal.
int timingsafe_bcmp(const void* a, const void* b, size_t length);
