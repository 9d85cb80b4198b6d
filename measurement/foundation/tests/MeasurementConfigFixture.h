#pragma once
// Measurement configurations in their wire form, as the configuration server sends them.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"

namespace measurement_test {

using Settings = std::vector<std::pair<std::string, std::string>>;

// `programs` holds program messages as object values, in order.
inline std::shared_ptr<ZDMPBMeasurementConfig> measurementConfig(const std::string& appID,
                                                                 const Settings& settings,
                                                                 const std::vector<std::string>& dataControls,
                                                                 const Value::Array& programs) {
    auto config = ZDMPBMeasurementConfig::initWithBuffer(nullptr);
    ZDMPBSetString(config.get(), 1, appID);
    Value::Array settingList, controlList;
    for (const auto& [key, text] : settings) {
        auto setting = ZDMPBSetting::initWithBuffer(nullptr);
        ZDMPBSetString(setting.get(), 0, key);
        ZDMPBSetString(setting.get(), 1, text);
        settingList.push_back(Value(std::shared_ptr<const Object>(setting)));
    }
    for (const auto& name : dataControls) {
        auto control = ZDMPBDataControl::initWithBuffer(nullptr);
        ZDMPBSetString(control.get(), 0, name);
        controlList.push_back(Value(std::shared_ptr<const Object>(control)));
    }
    ZDMPBSetArray(config.get(), 3, settingList);
    ZDMPBSetArray(config.get(), 8, programs);
    ZDMPBSetArray(config.get(), 9, controlList);
    return config;
}

}  // namespace measurement_test
