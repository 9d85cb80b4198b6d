#pragma once
// Classification of HTTP statuses and transport errors, and masking of secrets for logs.
#include <string>

#include "platform/foundation/Error.h"

class DIZHttpUtil {
  public:
    // 0 (no status), 408, 429 and every status from 500 on.
    static bool isRecoverableError(long statusCode);
    static bool isSuccessStatusCode(long statusCode);
    // Not connected, or the connection was lost.
    static bool isNoInternetConnectionError(const Error& error);
    static bool isSSLConnectionError(const Error& error);
    // All characters but the last 8 become "*"; 8 or fewer become all "*". Characters are Unicode
    // code points, so a multi-byte character is never cut.
    static std::string hideSecret(const std::string& secret);
    static std::string hideSecretInString(const std::string& string, const std::string& secret);
};
