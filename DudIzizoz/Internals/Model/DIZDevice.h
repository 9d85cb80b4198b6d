#pragma once
// What the client knows about the machine, the operating system, the application and itself at the
// time a log was made. Records are made by the device tracker and never changed once shared.
#include "DudIzizoz/Internals/Model/DIZWrapperSdk.h"

class DIZDevice : public DIZWrapperSdk {
  public:
    using Number = std::optional<int64_t>;

    DIZ_PROPERTY(Text, sdkName, SdkName)
    DIZ_PROPERTY(Text, sdkVersion, SdkVersion)
    DIZ_PROPERTY(Text, model, Model)
    DIZ_PROPERTY(Text, oemName, OemName)
    DIZ_PROPERTY(Text, osName, OsName)
    DIZ_PROPERTY(Text, osVersion, OsVersion)
    DIZ_PROPERTY(Text, osBuild, OsBuild)
    DIZ_PROPERTY(Number, osApiLevel, OsApiLevel)
    DIZ_PROPERTY(Text, locale, Locale)
    // Minutes east of UTC.
    DIZ_PROPERTY(Number, timeZoneOffset, TimeZoneOffset)
    DIZ_PROPERTY(Text, screenSize, ScreenSize)
    DIZ_PROPERTY(Text, appVersion, AppVersion)
    DIZ_PROPERTY(Text, carrierName, CarrierName)
    DIZ_PROPERTY(Text, carrierCountry, CarrierCountry)
    DIZ_PROPERTY(Text, appBuild, AppBuild)
    DIZ_PROPERTY(Text, appNamespace, AppNamespace)

    std::optional<Dictionary> serializeToDictionary() const override;
    // The wrapper part, then sdkName, sdkVersion, osName, osVersion, locale, timeZoneOffset,
    // appVersion and appBuild must be present.
    bool isValid() const override;
    bool isEqual(const DIZWrapperSdk& other) const override;
    // The JSON text of the record.
    std::string description() const;

    std::string archiveClassName() const override { return "DIZDevice"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZDevice", "DIZWrapperSdk", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text sdkName_, sdkVersion_, model_, oemName_, osName_, osVersion_, osBuild_;
    Number osApiLevel_;
    Text locale_;
    Number timeZoneOffset_;
    Text screenSize_, appVersion_, carrierName_, carrierCountry_, appBuild_, appNamespace_;

    // One field: a text or a number.
    struct Field {
        const char* key;
        Text DIZDevice::*text;
        Number DIZDevice::*number;
        bool required;
    };
    static const Field kFields[16];
};
