#pragma once
// A log with a name and string properties: the shape of event and page logs.
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"

class DIZLogWithNameAndProperties : public DIZLogWithProperties {
  public:
    DIZ_PROPERTY(std::optional<std::string>, name, Name)

    // Adds "name" after the base's keys.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base must be valid and the name present (an empty name passes here).
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZLogWithNameAndProperties"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZLogWithNameAndProperties", "DIZLogWithProperties", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    // The archived names of a subclass `name` above this class.
    std::vector<std::string> hierarchyOf(const char* name) const {
        auto hierarchy = DIZLogWithNameAndProperties::archiveClassHierarchy();
        hierarchy.insert(hierarchy.begin(), name);
        return hierarchy;
    }

  private:
    std::optional<std::string> name_;
};
