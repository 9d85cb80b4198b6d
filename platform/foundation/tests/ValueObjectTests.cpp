#include <gtest/gtest.h>

#include <memory>

#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace {

// Equal by its text, as a value class of a library would be.
class Token : public Object {
  public:
    explicit Token(std::string text) : text_(std::move(text)) {}
    std::string className() const override { return "Token"; }
    bool isEqual(const Object& other) const override {
        auto token = dynamic_cast<const Token*>(&other);
        return token && token->text_ == text_;
    }
    size_t hash() const override { return std::hash<std::string>{}(text_); }

  private:
    std::string text_;
};

TEST(ValueObject, ComparesByTheObjectsOwnEquality) {
    const Value a(std::make_shared<const Token>("a"));
    EXPECT_TRUE(a.isObject());
    EXPECT_EQ(a, Value(std::make_shared<const Token>("a")));
    EXPECT_NE(a, Value(std::make_shared<const Token>("b")));
    EXPECT_NE(a, Value("a"));
    EXPECT_EQ(Value(Value::Array{a}), Value(Value::Array{Value(std::make_shared<const Token>("a"))}));
    // Without an equality of its own an object equals only itself.
    const Value error = ErrorObject::value(Error("domain", 1));
    EXPECT_EQ(error, error);
    EXPECT_NE(error, ErrorObject::value(Error("domain", 1)));
    EXPECT_TRUE(Value(Value::ObjectPtr()).isNull());
}

TEST(ValueObject, KnowsItsClassAndDescription) {
    const Value token(std::make_shared<const Token>("a"));
    EXPECT_NE(token.objectAs<Token>(), nullptr);
    EXPECT_EQ(token.objectAs<ErrorObject>(), nullptr);
    EXPECT_EQ(token.asObject()->description().rfind("<Token 0x", 0), 0u);
    EXPECT_EQ(ErrorObject::value(Error("d", 2, "failed")).objectAs<ErrorObject>()->description(),
              "Error Domain=d Code=2 \"failed\"");
    EXPECT_EQ(ExceptionRecord("NSRangeException", "out of range").description(), "out of range");
}

TEST(ValueObject, WritersRefuseObjectsWithAnError) {
    const Value holding(Dictionary{{"error", ErrorObject::value(Error("d", 1))}});

    Error error;
    EXPECT_FALSE(plist::write(holding, plist::Format::Binary, &error));
    EXPECT_EQ(error.description, "A property list cannot hold an object of class NSError.");

    error = Error();
    EXPECT_FALSE(json::write(holding, json::Style::Compact, &error));
    EXPECT_EQ(error.domain, kFoundationErrorDomain);
    EXPECT_EQ(error.code, json::kJSONWriteInvalidError);
    EXPECT_EQ(json::write(Value(Dictionary{{"n", Value(1)}}), json::Style::Compact, &error), "{\"n\":1}");
    // The form that never fails writes what it cannot hold as null.
    EXPECT_EQ(json::write(holding), "{\"error\":null}");

    error = Error();
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Archived(holding), true, &error));
    EXPECT_EQ(error.code, kCoderInvalidValueError);
}

}  // namespace
