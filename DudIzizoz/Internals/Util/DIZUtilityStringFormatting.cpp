#include <algorithm>
#include <cctype>
#include <regex>
#include <string_view>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/Unicode.h"
#include "platform/security/CommonCrypto.h"

namespace {

std::vector<std::string> components(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string removingAll(std::string text, const std::string& part) {
    for (size_t at; (at = text.find(part)) != std::string::npos;) text.erase(at, part.size());
    return text;
}

// The white space of the regular expressions that these scans replace.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Where a "token" pair that starts at the quote `at` ends, if one does. A failed look never passes
// the next double quote, so the scan over the whole text stays linear.
std::optional<size_t> tokenPairEnd(std::string_view text, size_t at) {
    constexpr std::string_view kName = "\"token\"";
    if (text.size() - at < kName.size()) return std::nullopt;
    for (size_t i = 0; i < kName.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != kName[i]) return std::nullopt;
    }
    size_t i = at + kName.size();
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == text.size() || text[i] != ':') return std::nullopt;
    ++i;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == text.size() || text[i] != '"') return std::nullopt;
    const size_t close = text.find('"', i + 1);
    if (close == std::string_view::npos || close == i + 1) return std::nullopt;
    return close + 1;
}

}  // namespace

std::optional<std::string> DIZUtility::appSecretFrom(const std::string& secretString) {
    const bool macosOnly = contains(secretString, "macos=");
    for (const auto& part : components(secretString, ';')) {
        if (part.empty() || contains(part, "target=")) continue;
        if (macosOnly && !contains(part, "macos=")) continue;
        std::string candidate = removingAll(part, macosOnly ? "macos=" : "appsecret=");
        if (!candidate.empty()) return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> DIZUtility::transmissionTargetTokenFrom(const std::string& secretString) {
    for (const auto& part : components(secretString, ';')) {
        if (!contains(part, "target=")) continue;
        std::string token = removingAll(part, "target=");
        if (!token.empty()) return token;
    }
    return std::nullopt;
}

std::optional<std::string> DIZUtility::targetKeyFromTargetToken(const std::string& token) {
    std::string key = token.substr(0, token.find('-'));
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> DIZUtility::iKeyFromTargetToken(const std::string& token) {
    auto key = targetKeyFromTargetToken(token);
    if (!key) return std::nullopt;
    return "o:" + *key;
}

std::string DIZUtility::sha256(const std::string& text) {
    // Hashes the UTF-8 bytes: identical to the ASCII bytes for ASCII text, and defined for the rest.
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256(text.data(), static_cast<uint32_t>(text.size()), digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * sizeof digest);
    for (unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0F];
    }
    return hex;
}

std::optional<std::string> DIZUtility::prettyPrintJson(const std::optional<Data>& data) {
    if (!data) return std::nullopt;
    std::string text = stringFromData(*data);
    // The writer never escapes "/", so the text keeps its slashes as they are.
    if (auto parsed = json::parse(text)) return json::write(*parsed, json::Style::Pretty);
    if (!isValidUtf8(text)) return std::nullopt;
    return text;
}

std::optional<std::string> DIZUtility::obfuscateString(const std::optional<std::string>& text,
                                                       const std::string& pattern,
                                                       const std::string& replacement) {
    if (!text) return std::nullopt;
    try {
        std::regex expression(pattern, std::regex::ECMAScript | std::regex::icase);
        return std::regex_replace(*text, expression, replacement);
    } catch (const std::regex_error& error) {
        DIZLogError(kDIZLogTag, "Couldn't create regular expression with pattern\"%@\": %@", pattern,
                    error.what());
        return std::nullopt;
    }
}

std::optional<std::string> DIZUtility::obfuscateTokenValues(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string masked;
    size_t copied = 0;
    for (size_t at = text->find('"'); at != std::string::npos; at = text->find('"', at)) {
        if (const auto end = tokenPairEnd(*text, at)) {
            masked.append(*text, copied, at - copied).append("\"token\" : \"***\"");
            at = copied = *end;
        } else {
            ++at;
        }
    }
    return masked.append(*text, copied);
}

std::string DIZUtility::obfuscateAfterColons(const std::string& text) {
    std::string masked;
    size_t copied = 0;
    for (size_t at = text.find(':'); at != std::string::npos; at = text.find(':', at)) {
        if (at + 1 == text.size() || text[at + 1] == '"') {
            ++at;
            continue;
        }
        masked.append(text, copied, at - copied).append(":***");
        at = copied = std::min(text.find('"', at + 1), text.size());
    }
    return masked.append(text, copied);
}

DIZProperties DIZUtility::validateProperties(const Dictionary& properties, const std::string& logName,
                                             const std::string& type) {
    DIZProperties valid;
    for (const auto& [key, value] : properties) {
        if (valid.size() >= kDIZMaxPropertiesPerLog) {
            DIZLogWarning(
                kDIZLogTag,
                "%@ '%@' : properties cannot contain more than %d items. Skipping other properties.", type,
                logName, kDIZMaxPropertiesPerLog);
            break;
        }
        const std::string* text = value.asString();
        if (!text) continue;
        if (key.empty()) {
            DIZLogWarning(kDIZLogTag,
                          "%@ '%@' : a property key cannot be null or empty. Property will be skipped.", type,
                          logName);
            continue;
        }
        std::string validKey = key;
        if (utf16Length(key) > kDIZMaxPropertyKeyLength) {
            DIZLogWarning(
                kDIZLogTag,
                "%@ '%@' : property %@ : property key length cannot be longer than %d characters. Property "
                "key will be truncated.",
                type, logName, key, kDIZMaxPropertyKeyLength);
            validKey = prefixOfUtf16Length(key, kDIZMaxPropertyKeyLength);
        }
        std::string validValue = *text;
        if (utf16Length(*text) > kDIZMaxPropertyValueLength) {
            DIZLogWarning(
                kDIZLogTag,
                "%@ '%@' : property '%@' : property value cannot be longer than %d characters. Property "
                "value will be truncated.",
                type, logName, key, kDIZMaxPropertyValueLength);
            validValue = prefixOfUtf16Length(*text, kDIZMaxPropertyValueLength);
        }
        valid[validKey] = validValue;
    }
    return valid;
}
