#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"

#include <vector>

#include "platform/network/URLSession.h"

namespace {
constexpr size_t kVisibleCharacters = 8;

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}
}  // namespace

bool DIZHttpUtil::isRecoverableError(long statusCode) {
    return statusCode == 0 || statusCode == 408 || statusCode == 429 || statusCode >= 500;
}

bool DIZHttpUtil::isSuccessStatusCode(long statusCode) {
    return statusCode >= 200 && statusCode <= 299;
}

bool DIZHttpUtil::isNoInternetConnectionError(const Error& error) {
    return error.domain == kURLErrorDomain &&
           (error.code == URLError::NotConnectedToInternet || error.code == URLError::NetworkConnectionLost);
}

bool DIZHttpUtil::isSSLConnectionError(const Error& error) {
    return error.domain == kURLErrorDomain && error.code >= -2000 && error.code <= -1200;
}

std::string DIZHttpUtil::hideSecret(const std::string& secret) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < secret.size(); ++i) {
        if (!isContinuationByte(secret[i])) starts.push_back(i);
    }
    if (starts.size() <= kVisibleCharacters) return std::string(starts.size(), '*');
    const size_t hidden = starts.size() - kVisibleCharacters;
    return std::string(hidden, '*') + secret.substr(starts[hidden]);
}

std::string DIZHttpUtil::hideSecretInString(const std::string& string, const std::string& secret) {
    if (secret.empty()) return string;
    const std::string masked = hideSecret(secret);
    std::string result;
    size_t from = 0;
    for (size_t at = string.find(secret); at != std::string::npos; at = string.find(secret, from)) {
        result.append(string, from, at - from).append(masked);
        from = at + secret.size();
    }
    return result.append(string, from);
}
