#pragma once
// The free "data" part of a Core Schema log.
#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZCSData : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    DIZ_PROPERTY(std::optional<Dictionary>, properties, Properties)

    // "baseType" first and "baseData" next when present, then the other entries in their order.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isValid() const override { return true; }
    bool isEqual(const DIZCSData& other) const { return properties_ == other.properties_; }

    std::string archiveClassName() const override { return "DIZCSData"; }
    std::vector<std::string> archiveClassHierarchy() const override { return {"DIZCSData", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<Dictionary> properties_;
};
