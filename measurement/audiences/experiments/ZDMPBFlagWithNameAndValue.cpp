#include "measurement/audiences/experiments/ZDMPBFlagWithNameAndValue.h"

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {
constexpr int32_t kName = 0;
constexpr int32_t kIntValue = 1;
constexpr int32_t kStringValue = 2;
constexpr int32_t kDoubleValue = 3;
}  // namespace

std::shared_ptr<ZDMPBFlag> ZDMPBFlagWithNameAndValue(const Value& name, const Value& value) {
    if (name.isNull()) {
        ZDMEManager::monitor()->logWithLevel(1, 850000, "Flag name must not be nil");
        return nullptr;
    }
    if (!name.isString()) {
        ZDMEManager::monitor()->logWithLevel(1, 850001, "Flag name must be a string",
                                             Value(ZDMPBClassNameOf(name)));
        return nullptr;
    }
    if (!value.isNumber() && !value.isString()) {
        ZDMEManager::monitor()->logWithLevel(1, 850002, "Flag value is invalid",
                                             Value(ZDMPBClassNameOf(value)));
        return nullptr;
    }
    auto flag = ZDMPBFlag::initWithBuffer(nullptr);
    if (!flag) return nullptr;
    ZDMPBSetString(flag.get(), kName, *name.asString());
    if (value.isString()) {
        ZDMPBSetString(flag.get(), kStringValue, *value.asString());
    } else if (value.isReal()) {
        ZDMPBSetDouble(flag.get(), kDoubleValue, *value.asReal());
    } else {
        ZDMPBSetInt64(flag.get(), kIntValue, value.integerOr(0));
    }
    return flag;
}
