#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/security/CommonCrypto.h"
#include "platform/security/SecRandom.h"

namespace {

Data hex(const std::string& text) {
    Data out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string toHex(const uint8_t* bytes, size_t length) {
    std::string out;
    char buffer[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
        out += buffer;
    }
    return out;
}

const Data kKey = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Data kIv = hex("000102030405060708090a0b0c0d0e0f");

TEST(CommonCryptoTest, Aes256CbcMatchesKnownAnswer) {
    const Data plain = hex("6bc1bee22e409f96e93d7e117393172a");
    uint8_t out[16];
    size_t moved = 0;
    ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, 0, kKey.data(), kKey.size(), kIv.data(), plain.data(),
                      plain.size(), out, sizeof out, &moved),
              kCCSuccess);
    EXPECT_EQ(toHex(out, moved), "f58c4c04d6e5f1ba779eabfb5f7bfbd6");
}

TEST(CommonCryptoTest, Pkcs7RoundTripsAndRejectsWhatItCannotDo) {
    const std::string text = "seventeen bytes!!";
    std::vector<uint8_t> cipher(text.size() + 17);
    size_t moved = 0;
    ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey.data(), 32, kIv.data(),
                      text.data(), text.size(), cipher.data(), cipher.size(), &moved),
              kCCSuccess);
    EXPECT_EQ(moved, 32u);
    cipher.resize(moved);

    std::vector<uint8_t> plain(cipher.size() + 17);
    ASSERT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey.data(), 32, kIv.data(),
                      cipher.data(), cipher.size(), plain.data(), plain.size(), &moved),
              kCCSuccess);
    EXPECT_EQ(std::string(plain.begin(), plain.begin() + static_cast<long>(moved)), text);

    Data wrongKey = kKey;
    wrongKey[0] ^= 1;
    EXPECT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, wrongKey.data(), 32, kIv.data(),
                      cipher.data(), cipher.size(), plain.data(), plain.size(), &moved),
              kCCDecodeError);
    EXPECT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey.data(), 32, kIv.data(),
                      cipher.data(), cipher.size() - 1, plain.data(), plain.size(), &moved),
              kCCAlignmentError);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey.data(), 31, kIv.data(),
                      text.data(), text.size(), plain.data(), plain.size(), &moved),
              kCCKeySizeError);
    EXPECT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithmAES, kCCOptionPKCS7Padding, kKey.data(), 32, kIv.data(),
                      text.data(), text.size(), plain.data(), 31, &moved),
              kCCBufferTooSmall);
    EXPECT_EQ(moved, 32u);
}

TEST(CommonCryptoTest, DigestsAndHmacMatchKnownAnswers) {
    unsigned char md[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256("abc", 3, md);
    EXPECT_EQ(toHex(md, sizeof md), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    unsigned char md5[CC_MD5_DIGEST_LENGTH];
    CC_MD5("abc", 3, md5);
    EXPECT_EQ(toHex(md5, sizeof md5), "900150983cd24fb0d6963f7d28e17f72");
    const std::string data = "what do ya want for nothing?";
    unsigned char mac[CC_SHA256_DIGEST_LENGTH];
    CCHmac(kCCHmacAlgSHA256, "Jefe", 4, data.data(), data.size(), mac);
    EXPECT_EQ(toHex(mac, sizeof mac), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

TEST(CommonCryptoTest, RandomBytesDifferAndComparisonSeesEveryByte) {
    uint8_t a[32] = {}, b[32] = {};
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, sizeof a, a), errSecSuccess);
    ASSERT_EQ(SecRandomCopyBytes(kSecRandomDefault, sizeof b, b), errSecSuccess);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    std::memcpy(b, a, sizeof a);
    EXPECT_EQ(timingsafe_bcmp(a, b, sizeof a), 0);
    b[31] ^= 0x80;
    EXPECT_NE(timingsafe_bcmp(a, b, sizeof a), 0);
}

}  // namespace
