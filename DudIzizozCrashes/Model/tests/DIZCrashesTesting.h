#pragma once
// Records for the crash models' tests: a device that passes validation, and the JSON of a model.
#include <memory>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZDevice.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/Date.h"

inline const Date kDIZTestWhen = Date::fromUnixMillis(1700000000123);

inline std::shared_ptr<DIZDevice> DIZValidDevice() {
    auto device = std::make_shared<DIZDevice>();
    device->setSdkName("dudizizoz.macos");
    device->setSdkVersion("5.0.3");
    device->setOsName("macOS");
    device->setOsVersion("13.2.1");
    device->setLocale("en_CA");
    device->setTimeZoneOffset(-210);
    device->setAppVersion("1.0.0");
    device->setAppBuild("1");
    return device;
}

inline Value DIZJson(const DIZSerializableObject& object) {
    return Value(object.serializeToDictionary().value_or(Dictionary{}));
}

inline std::vector<std::string> DIZJsonKeys(const DIZSerializableObject& object) {
    return object.serializeToDictionary().value_or(Dictionary{}).keys();
}
