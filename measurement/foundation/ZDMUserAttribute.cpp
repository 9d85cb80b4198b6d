#include "measurement/foundation/ZDMUserAttribute.h"

#include "measurement/foundation/ZDMDataTypeValidator.h"
#include "measurement/foundation/ZDMNumericUtil.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

// UserAttribute fields by index.
constexpr int32_t kSetTimestampIndex = 0;
constexpr int32_t kNameIndex = 1;
constexpr int32_t kStringValueIndex = 2;
constexpr int32_t kIntValueIndex = 3;
constexpr int32_t kDoubleValueIndex = 5;

// Exactly one value field; an array has none.
void setValueField(ZDMPBUserAttribute* proto, const ZDMValue& value) {
    if (value.isDouble())
        ZDMPBSetDouble(proto, kDoubleValueIndex, value.doubleValue());
    else if (value.isInt64())
        ZDMPBSetInt64(proto, kIntValueIndex, value.int64Value());
    else if (const auto text = value.stringValue())
        ZDMPBSetString(proto, kStringValueIndex, *text);
}

}  // namespace

std::shared_ptr<ZDMUserAttribute> ZDMUserAttribute::initWithOrigin(const std::string& origin,
                                                                   const std::string& name,
                                                                   std::shared_ptr<const ZDMValue> value,
                                                                   double lastSetTimestamp) {
    if (!isValid(name, value)) return nullptr;
    return std::shared_ptr<ZDMUserAttribute>(
        new ZDMUserAttribute(origin, name, std::move(value), lastSetTimestamp));
}

std::shared_ptr<ZUDAUserAttribute> ZUDAUserAttribute::initWithOrigin(const std::string& origin,
                                                                     const std::string& name,
                                                                     std::shared_ptr<const ZDMValue> value,
                                                                     double lastSetTimestamp) {
    if (!isValid(name, value)) return nullptr;
    return std::shared_ptr<ZUDAUserAttribute>(
        new ZUDAUserAttribute(origin, name, std::move(value), lastSetTimestamp));
}

bool ZDMUserAttribute::isValid(const std::string& name, const std::shared_ptr<const ZDMValue>& value) {
    return ZDMDataTypeValidator::isValidInternalUserAttributeName(Value(name)) &&
           ZDMDataTypeValidator::isValidInternalUserAttributeValue(Value(Value::ObjectPtr(value)), name);
}

std::shared_ptr<ZDMPBUserAttribute> ZDMUserAttribute::protoUserAttribute() const {
    auto proto = ZDMPBUserAttribute::initWithMessageInfo(nullptr);
    ZDMPBSetString(proto.get(), kNameIndex, name_);
    if (value_) setValueField(proto.get(), *value_);
    ZDMPBSetInt64(proto.get(), kSetTimestampIndex, ZDMMillisecondsFromSeconds(lastSetTimestamp_));
    return proto;
}
