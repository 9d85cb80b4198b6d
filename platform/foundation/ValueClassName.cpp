#include "platform/foundation/ValueClassName.h"

std::string classNameOf(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return "NSNull";
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Real:
            return "NSNumber";
        case Value::Type::String:
            return "NSString";
        case Value::Type::Data:
            return "NSData";
        case Value::Type::Date:
            return "NSDate";
        case Value::Type::Array:
            return "NSArray";
        case Value::Type::Dictionary:
            return "NSDictionary";
        case Value::Type::Object:
            return value.asObject()->className();
    }
    return "NSObject";
}
