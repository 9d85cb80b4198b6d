#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <climits>
#include <memory>

#include "platform/security/CommonCrypto.h"

namespace {
const EVP_CIPHER* aesCbc(size_t keyLength) {
    switch (keyLength) {
        case 16:
            return EVP_aes_128_cbc();
        case 24:
            return EVP_aes_192_cbc();
        case 32:
            return EVP_aes_256_cbc();
        default:
            return nullptr;
    }
}

size_t outputNeeded(CCOperation op, bool padding, size_t inputLength) {
    if (op == kCCEncrypt && padding) return (inputLength / kCCBlockSizeAES128 + 1) * kCCBlockSizeAES128;
    return inputLength;
}
}  // namespace

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key, size_t keyLength,
                        const void* iv, const void* dataIn, size_t dataInLength, void* dataOut,
                        size_t dataOutAvailable, size_t* dataOutMoved) {
    if (dataOutMoved) *dataOutMoved = 0;
    if ((op != kCCEncrypt && op != kCCDecrypt) || alg != kCCAlgorithmAES || !key ||
        (!dataIn && dataInLength) || dataInLength > INT_MAX - kCCBlockSizeAES128)
        return kCCParamError;
    const EVP_CIPHER* cipher = aesCbc(keyLength);
    if (!cipher) return kCCKeySizeError;
    const bool padding = options & kCCOptionPKCS7Padding;
    if ((!padding || op == kCCDecrypt) && dataInLength % kCCBlockSizeAES128 != 0) return kCCAlignmentError;
    const size_t needed = outputNeeded(op, padding, dataInLength);
    if (!dataOut || dataOutAvailable < needed) {
        if (dataOutMoved) *dataOutMoved = needed;
        return kCCBufferTooSmall;
    }

    static const unsigned char zeroIv[kCCBlockSizeAES128] = {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    if (!ctx) return kCCParamError;
    const auto* ivBytes = static_cast<const unsigned char*>(iv ? iv : zeroIv);
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, static_cast<const unsigned char*>(key), ivBytes,
                          op == kCCEncrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), padding ? 1 : 0) != 1)
        return kCCParamError;
    auto* out = static_cast<unsigned char*>(dataOut);
    int updated = 0, finished = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &updated, static_cast<const unsigned char*>(dataIn),
                         static_cast<int>(dataInLength)) != 1)
        return kCCParamError;
    if (EVP_CipherFinal_ex(ctx.get(), out + updated, &finished) != 1) return kCCDecodeError;
    if (dataOutMoved) *dataOutMoved = static_cast<size_t>(updated + finished);
    return kCCSuccess;
}

void CCHmac(CCHmacAlgorithm algorithm, const void* key, size_t keyLength, const void* data, size_t dataLength,
            void* macOut) {
    if (algorithm != kCCHmacAlgSHA256) return;
    static const unsigned char none = 0;
    unsigned int length = 0;
    HMAC(EVP_sha256(), key ? key : &none, static_cast<int>(keyLength),
         static_cast<const unsigned char*>(data ? data : &none), dataLength,
         static_cast<unsigned char*>(macOut), &length);
}

unsigned char* CC_SHA256(const void* data, uint32_t length, unsigned char* md) {
    static const unsigned char none = 0;
    return SHA256(static_cast<const unsigned char*>(data ? data : &none), length, md);
}

unsigned char* CC_MD5(const void* data, uint32_t length, unsigned char* md) {
    static const unsigned char none = 0;
    unsigned int written = 0;
    EVP_Digest(data ? data : &none, length, md, &written, EVP_md5(), nullptr);
    return md;
}

int CC_MD5_Init(CC_MD5_CTX* context) {
    EVP_MD_CTX* state = EVP_MD_CTX_new();
    if (!state || EVP_DigestInit_ex(state, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(state);
        context->state = nullptr;
        return 0;
    }
    context->state = state;
    return 1;
}

int CC_MD5_Update(CC_MD5_CTX* context, const void* data, size_t length) {
    auto* state = static_cast<EVP_MD_CTX*>(context->state);
    return state && EVP_DigestUpdate(state, data, length) == 1 ? 1 : 0;
}

int CC_MD5_Final(unsigned char* md, CC_MD5_CTX* context) {
    auto* state = static_cast<EVP_MD_CTX*>(context->state);
    context->state = nullptr;
    unsigned int written = 0;
    const bool done = state && EVP_DigestFinal_ex(state, md, &written) == 1;
    EVP_MD_CTX_free(state);
    return done ? 1 : 0;
}

int timingsafe_bcmp(const void* a, const void* b, size_t length) {
    return CRYPTO_memcmp(a, b, length) != 0;
}
