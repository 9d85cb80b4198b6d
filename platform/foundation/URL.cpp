#include "platform/foundation/URL.h"

#include <cctype>
#include <string>

namespace {
bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Characters a URL may hold outside its bracketed host, escapes included.
bool hasOnlyURLCharacters(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelimiter(static_cast<char>(c)) && c != ':' && c != '/' &&
                   c != '?' && c != '@') {
            return false;
        }
    }
    return true;
}

bool isScheme(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return false;
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

std::optional<int> parsePort(std::string_view text, bool& valid) {
    valid = true;
    if (text.empty()) return std::nullopt;
    long port = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || (port = port * 10 + (c - '0')) > 65535) {
            valid = false;
            return std::nullopt;
        }
    }
    return static_cast<int>(port);
}

bool parseAuthority(std::string_view authority, URLComponents& components) {
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        if (!hasOnlyURLCharacters(userInfo)) return false;
        const auto colon = userInfo.find(':');
        components.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) components.password = std::string(userInfo.substr(colon + 1));
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = authority.substr(0, close + 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        if (!rest.empty()) port = rest.substr(1);
        if (!hasOnlyURLCharacters(host.substr(1, host.size() - 2))) return false;
    } else {
        if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
        }
        if (!hasOnlyURLCharacters(host) || host.find_first_of(":/?@") != std::string_view::npos) return false;
    }
    bool validPort = false;
    components.port = parsePort(port, validPort);
    components.host = std::string(host);
    return validPort;
}
}  // namespace

std::optional<URLComponents> URLComponents::fromString(std::string_view text) {
    URLComponents components;
    if (const auto hash = text.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = text.substr(hash + 1);
        if (!hasOnlyURLCharacters(fragment)) return std::nullopt;
        components.fragment = std::string(fragment);
        text = text.substr(0, hash);
    }
    if (const auto question = text.find('?'); question != std::string_view::npos) {
        std::string_view query = text.substr(question + 1);
        if (!hasOnlyURLCharacters(query)) return std::nullopt;
        components.query = std::string(query);
        text = text.substr(0, question);
    }
    if (const auto colon = text.find(':');
        colon != std::string_view::npos && isScheme(text.substr(0, colon))) {
        components.scheme = std::string(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const auto slash = text.find('/');
        if (!parseAuthority(text.substr(0, slash), components)) return std::nullopt;
        text = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    }
    if (!hasOnlyURLCharacters(text)) return std::nullopt;
    components.path = std::string(text);
    return components;
}

std::optional<std::string> URLComponents::string() const {
    std::string text;
    if (scheme) text += *scheme + ":";
    if (host || user || password || port) {
        if (!path.empty() && path.front() != '/') return std::nullopt;
        text += "//";
        if (user || password) {
            text += user.value_or("");
            if (password) text += ":" + *password;
            text += "@";
        }
        text += host.value_or("");
        if (port) text += ":" + std::to_string(*port);
    } else if (path.starts_with("//")) {
        return std::nullopt;
    }
    text += path;
    if (query) text += "?" + *query;
    if (fragment) text += "#" + *fragment;
    return text;
}

std::string URLQueryPercentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte) || isSubDelimiter(c) || c == ':' || c == '/' || c == '?' || c == '@') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::shared_ptr<const URL> URL::URLWithString(std::string_view text) {
    if (text.empty()) return nullptr;
    auto components = URLComponents::fromString(text);
    if (!components) return nullptr;
    return std::make_shared<const URL>(std::string(text), std::move(*components));
}

URL::URL(std::string absoluteString, URLComponents components)
    : absoluteString_(std::move(absoluteString)), components_(std::move(components)) {}

bool URL::isEqual(const Object& other) const {
    const auto* url = dynamic_cast<const URL*>(&other);
    return url && url->absoluteString_ == absoluteString_;
}
