#pragma once
// URL references as the platform reads and rebuilds them: a text is a URL only when every
// character is one a URL may hold (percent escapes well-formed) and its port is a number; its
// parts can then be replaced one by one and joined again.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Object.h"

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

// A URL as the platform hands it around (the design's NSURL): made only from a text that forms a
// URL, kept as that text, compared by it.
class URL : public Object {
  public:
    // nullptr for an empty text or one that forms no URL.
    static std::shared_ptr<const URL> URLWithString(std::string_view text);

    const std::string& absoluteString() const { return absoluteString_; }
    // The text after "?" up to any "#"; nullopt when there is no "?".
    const std::optional<std::string>& query() const { return components_.query; }

    std::string className() const override { return "NSURL"; }
    std::string description() const override { return absoluteString_; }
    bool isEqual(const Object& other) const override;
    size_t hash() const override { return std::hash<std::string>{}(absoluteString_); }

    URL(std::string absoluteString, URLComponents components);  // use URLWithString

  private:
    std::string absoluteString_;
    URLComponents components_;
};
