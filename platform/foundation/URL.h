#pragma once
// URL references as the platform reads and rebuilds them: a text is a URL only when every
// character is one a URL may hold (percent escapes well-formed) and its port is a number; its
// parts can then be replaced one by one and joined again.
#include <optional>
#include <string>
#include <string_view>

struct URLComponents {
    std::optional<std::string> scheme;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> host;
    std::optional<int> port;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    // nullopt when the text forms no URL.
    static std::optional<URLComponents> fromString(std::string_view text);
    // nullopt when the parts do not fit together: a path that is not absolute after a host, or a
    // path starting with "//" without one.
    std::optional<std::string> string() const;
};

// The text with every byte outside the query's allowed characters (letters, digits and
// "!$&'()*+,-./:;=?@_~") written as "%XX".
std::string URLQueryPercentEncoded(std::string_view text);
