#include <gtest/gtest.h>

#include "platform/foundation/Exception.h"
#include "platform/foundation/NSValueTransformer.h"

namespace {

struct Doubler : NSValueTransformer {
    AnyObject transformedValue(const AnyObject& value) const override {
        if (!value.isNumber()) return {};
        return AnyObject(Value(value.value()->integerOr(0) * 2));
    }
    bool allowsReverseTransformation() const override { return false; }
};

struct Thing {
    int id;
};

TEST(NSValueTransformer, AnyObjectHoldsNilAValueOrAnObject) {
    EXPECT_TRUE(AnyObject().isNil());
    EXPECT_FALSE(AnyObject(Value()).isNil());  // NSNull is an object
    EXPECT_TRUE(AnyObject(std::shared_ptr<Thing>()).isNil());
    auto thing = std::make_shared<Thing>(Thing{3});
    AnyObject object(thing);
    EXPECT_EQ(object.object<Thing>(), thing);
    EXPECT_EQ(object.value(), nullptr);
    EXPECT_EQ(AnyObject(Value("x")).object<Thing>(), nullptr);
    EXPECT_EQ(*AnyObject(Value("x")).string(), "x");
}

TEST(NSValueTransformer, ReversesOnlyWhenAllowed) {
    NSValueTransformer identity;
    EXPECT_EQ(*identity.reverseTransformedValue(AnyObject(Value(4))).value(), Value(4));
    Doubler doubler;
    EXPECT_EQ(*doubler.transformedValue(AnyObject(Value(4))).value(), Value(8));
    EXPECT_THROW(doubler.reverseTransformedValue(AnyObject(Value(8))), Exception);
}

TEST(NSValueTransformer, RegistryFindsTransformersByName) {
    auto doubler = std::make_shared<Doubler>();
    NSValueTransformer::setValueTransformer(doubler, "Doubler");
    EXPECT_EQ(NSValueTransformer::valueTransformerForName("Doubler"), doubler);
    EXPECT_EQ(NSValueTransformer::valueTransformerForName("Tripler"), nullptr);
    auto names = NSValueTransformer::valueTransformerNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "Doubler"), names.end());
    NSValueTransformer::setValueTransformer(nullptr, "Doubler");
    EXPECT_EQ(NSValueTransformer::valueTransformerForName("Doubler"), nullptr);
}

}  // namespace
