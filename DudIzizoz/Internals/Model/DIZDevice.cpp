#include "DudIzizoz/Internals/Model/DIZDevice.h"

#include "platform/foundation/JSON.h"

const DIZDevice::Field DIZDevice::kFields[16] = {
    {"sdkName", &DIZDevice::sdkName_, nullptr, true},
    {"sdkVersion", &DIZDevice::sdkVersion_, nullptr, true},
    {"model", &DIZDevice::model_, nullptr, false},
    {"oemName", &DIZDevice::oemName_, nullptr, false},
    {"osName", &DIZDevice::osName_, nullptr, true},
    {"osVersion", &DIZDevice::osVersion_, nullptr, true},
    {"osBuild", &DIZDevice::osBuild_, nullptr, false},
    {"osApiLevel", nullptr, &DIZDevice::osApiLevel_, false},
    {"locale", &DIZDevice::locale_, nullptr, true},
    {"timeZoneOffset", nullptr, &DIZDevice::timeZoneOffset_, true},
    {"screenSize", &DIZDevice::screenSize_, nullptr, false},
    {"appVersion", &DIZDevice::appVersion_, nullptr, true},
    {"carrierName", &DIZDevice::carrierName_, nullptr, false},
    {"carrierCountry", &DIZDevice::carrierCountry_, nullptr, false},
    {"appBuild", &DIZDevice::appBuild_, nullptr, true},
    {"appNamespace", &DIZDevice::appNamespace_, nullptr, false},
};

std::optional<Dictionary> DIZDevice::serializeToDictionary() const {
    Dictionary dictionary = *DIZWrapperSdk::serializeToDictionary();
    for (const auto& field : kFields) {
        if (field.text) DIZSetIfPresent(dictionary, field.key, this->*field.text);
        if (field.number) DIZSetIfPresent(dictionary, field.key, this->*field.number);
    }
    return dictionary;
}

bool DIZDevice::isValid() const {
    if (!DIZWrapperSdk::isValid()) return false;
    for (const auto& field : kFields) {
        bool present = field.text ? (this->*field.text).has_value() : (this->*field.number).has_value();
        if (field.required && !present) {
            DIZLogInvalidField(archiveClassName(), field.key);
            return false;
        }
    }
    return true;
}

bool DIZDevice::isEqual(const DIZWrapperSdk& other) const {
    const auto* device = dynamic_cast<const DIZDevice*>(&other);
    if (!device || !DIZWrapperSdk::isEqual(other)) return false;
    for (const auto& field : kFields) {
        if (field.text && this->*field.text != device->*field.text) return false;
        if (field.number && this->*field.number != device->*field.number) return false;
    }
    return true;
}

std::string DIZDevice::description() const {
    return json::write(Value(*serializeToDictionary()));
}

void DIZDevice::encodeWithCoder(KeyedArchiver& coder) const {
    DIZWrapperSdk::encodeWithCoder(coder);
    for (const auto& field : kFields) {
        if (field.text) coder.encodeObject(DIZArchived(this->*field.text), field.key);
        if (field.number) coder.encodeObject(DIZArchived(this->*field.number), field.key);
    }
}

bool DIZDevice::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZWrapperSdk::initWithCoder(coder)) return false;
    for (const auto& field : kFields) {
        if (field.text) this->*field.text = coder.decodeString(field.key);
        if (field.number) this->*field.number = DIZDecodeNumber(coder, field.key);
    }
    return true;
}
