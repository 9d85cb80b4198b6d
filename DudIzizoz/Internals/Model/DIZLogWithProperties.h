#pragma once
// A log with a map of string properties.
#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

class DIZLogWithProperties : public DIZAbstractLog {
  public:
    DIZ_PROPERTY(std::optional<DIZProperties>, properties, Properties)

    // Adds "properties" when the map holds at least one entry.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZLogWithProperties"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZLogWithProperties", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<DIZProperties> properties_;
};
