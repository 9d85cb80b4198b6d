#include "measurement/wire/ZDMPBExperimentMessages.h"

#include "measurement/wire/ZDMPBAccessors.h"

namespace {
constexpr int32_t kIntValue = 1;
constexpr int32_t kStringValue = 2;
constexpr int32_t kDoubleValue = 3;
constexpr int32_t kBoolValue = 4;
}  // namespace

Value ZDMPBFlagValue(const ZDMPBFlag* flag) {
    if (!flag) return Value();
    if (ZDMPBHasField(flag, kIntValue)) return Value(ZDMPBGetInt64(flag, kIntValue));
    if (ZDMPBHasField(flag, kDoubleValue)) return Value(ZDMPBGetDouble(flag, kDoubleValue));
    if (ZDMPBHasField(flag, kStringValue)) {
        auto text = ZDMPBGetString(flag, kStringValue);
        return text ? Value(*text) : Value();
    }
    if (ZDMPBHasField(flag, kBoolValue)) return Value(ZDMPBGetBool(flag, kBoolValue));
    return Value();
}
