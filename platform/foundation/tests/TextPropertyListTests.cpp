#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/TextPropertyList.h"

namespace {

std::filesystem::path writeTemporary(const std::string& name, const std::string& bytes) {
    const char* base = std::getenv("QUORVANE_TEST_TMP");
    auto dir = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().c_str()) /
               ("plist-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
    return dir / name;
}

TEST(TextPropertyList, ReadsDictionariesArraysStringsAndComments) {
    const char* text = R"(/* key bindings */
{
    "^f" = "moveForward:";   // a comment
    "@a" = ( "selectAll:", moveToEndOfDocument: );
    "^x" = { "^s" = "save:"; };
    ''  = "quoted \"key\" \U00e9";
    "~" = "";
})";
    Error error;
    auto value = plist::readText(text, &error);
    ASSERT_TRUE(value) << error.description;
    const Dictionary& d = *value->asDictionary();
    EXPECT_EQ(d.size(), 5u);
    EXPECT_EQ(d["^f"], Value("moveForward:"));
    EXPECT_EQ(d["@a"], Value(Value::Array{Value("selectAll:"), Value("moveToEndOfDocument:")}));
    EXPECT_EQ(*d["^x"].asDictionary(), (Dictionary{{"^s", "save:"}}));
    EXPECT_EQ(d[""], Value("quoted \"key\" é"));
    EXPECT_EQ(d["~"], Value(""));
}

TEST(TextPropertyList, MalformedTextIsAnErrorNamingTheLine) {
    struct Case {
        const char* text;
        const char* line;
    } cases[] = {
        {"{ a = b }", "line 1"},
        {"{\n a = b;\n c = ;\n}", "line 3"},
        {"( a, b", "line 1"},
        {"\"open", "line 1"},
        {"/* never closed", "line 1"},
        {"{ (a) = b; }", "line 1"},
        {"{ a = \"\\U12\"; }", "line 1"},
        {"a b", "line 1"},
        {"", "line 1"},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(plist::readText(c.text, &error)) << c.text;
        EXPECT_EQ(error.code, 3840) << c.text;
        EXPECT_NE(error.description.find(c.line), std::string::npos) << c.text << ": " << error.description;
    }
    std::string deep(10000, '(');
    EXPECT_FALSE(plist::readText(deep));
}

TEST(TextPropertyList, FilesAreReadInEveryForm) {
    auto xml = plist::write(Value(Dictionary{{"@a", "selectAll:"}}), plist::Format::XML);
    auto binary = plist::write(Value(Dictionary{{"@a", "selectAll:"}}), plist::Format::Binary);
    ASSERT_TRUE(xml && binary);
    for (const auto& bytes :
         {std::string(xml->begin(), xml->end()), std::string(binary->begin(), binary->end()),
          std::string("{ \"@a\" = selectAll:; }")}) {
        Error error;
        auto read = dictionaryWithContentsOfURL(writeTemporary("bindings.dict", bytes), &error);
        ASSERT_TRUE(read) << error.description;
        EXPECT_EQ((*read)["@a"], Value("selectAll:"));
    }
    Error error;
    EXPECT_FALSE(dictionaryWithContentsOfURL(writeTemporary("array.dict", "( a )"), &error));
    EXPECT_FALSE(error.description.empty());
    EXPECT_FALSE(dictionaryWithContentsOfURL("/nonexistent/DefaultKeyBinding.dict", &error));
    EXPECT_EQ(error.code, 260);
}

}  // namespace
