#include <gtest/gtest.h>

#include "platform/foundation/URL.h"

namespace {

TEST(URLComponentsTest, SplitsAURLIntoItsPartsAndJoinsThemAgain) {
    const std::string text = "https://user:pw@[::1]:8443/a/b%20c?x=1&y=2#top";
    auto components = URLComponents::fromString(text);
    ASSERT_TRUE(components);
    EXPECT_EQ(components->scheme, "https");
    EXPECT_EQ(components->user, "user");
    EXPECT_EQ(components->password, "pw");
    EXPECT_EQ(components->host, "[::1]");
    EXPECT_EQ(components->port, 8443);
    EXPECT_EQ(components->path, "/a/b%20c");
    EXPECT_EQ(components->query, "x=1&y=2");
    EXPECT_EQ(components->fragment, "top");
    EXPECT_EQ(components->string(), text);

    auto relative = URLComponents::fromString("logs/today?q");
    ASSERT_TRUE(relative);
    EXPECT_FALSE(relative->scheme);
    EXPECT_FALSE(relative->host);
    EXPECT_EQ(relative->string(), "logs/today?q");
}

TEST(URLComponentsTest, TextThatFormsNoURLIsRefused) {
    for (std::string text :
         {"not a url", "http://127.0.0.1:port/", "http://127.0.0.1:65536", "http://h/%2", "http://h/%zz",
          "http://[::1/", "http://h/a\"b", "http://h/\xc3\xa9", "http://a b/"}) {
        EXPECT_FALSE(URLComponents::fromString(text)) << text;
    }
}

TEST(URLComponentsTest, PartsThatDoNotFitTogetherGiveNoString) {
    URLComponents components;
    components.host = "127.0.0.1";
    components.path = "relative";
    EXPECT_FALSE(components.string());
    components.host.reset();
    components.path = "//double";
    EXPECT_FALSE(components.string());
}

TEST(URLComponentsTest, QueryEncodingKeepsOnlyTheQuerysCharacters) {
    EXPECT_EQ(URLQueryPercentEncoded("a=1&b=x y/z?:@!$'()*+,;~-._"), "a=1&b=x%20y/z?:@!$'()*+,;~-._");
    EXPECT_EQ(URLQueryPercentEncoded("%#[]\"<>\\^`{|}\xc3\xa9"),
              "%25%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D%C3%A9");
}

TEST(URLTest, AURLKeepsItsTextAndQueryAndComparesByText) {
    const auto url = URL::URLWithString("https://example.com/path?utm_source=news&x=1#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), "https://example.com/path?utm_source=news&x=1#top");
    EXPECT_EQ(url->query(), "utm_source=news&x=1");
    EXPECT_TRUE(url->isEqual(*URL::URLWithString("https://example.com/path?utm_source=news&x=1#top")));
    EXPECT_FALSE(url->isEqual(*URL::URLWithString("https://example.com/path")));
    EXPECT_EQ(URL::URLWithString("https://example.com/path")->query(), std::nullopt);
    for (std::string text : {"", "(not set)", "http://h/%zz"})
        EXPECT_EQ(URL::URLWithString(text), nullptr) << text;
}

}  // namespace
