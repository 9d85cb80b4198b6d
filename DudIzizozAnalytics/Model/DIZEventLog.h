#pragma once
// An analytics event: a name, an event id, string properties and typed properties, of type
// "event". For Did Ozodozuda it becomes a Core Schema log whose data holds the typed properties as
// a tree (dotted names nest) and whose metadata marks the numeric and date types.
#include <map>

#include "DudIzizozAnalytics/Model/DIZEventProperties.h"
#include "DudIzizozAnalytics/Model/DIZLogWithNameAndProperties.h"

inline constexpr const char* kDIZEventLogType = "event";

class DIZEventLog : public DIZLogWithNameAndProperties {
  public:
    DIZEventLog() { setType(kDIZEventLogType); }

    DIZ_PROPERTY(std::optional<std::string>, eventId, EventId)
    DIZ_PROPERTY(std::shared_ptr<DIZEventProperties>, typedProperties, TypedProperties)

    // Core Schema type ids: "long" 4, "double" 6, "dateTime" 9; strings and booleans have none.
    static const std::map<std::string, int64_t>& metadataTypeIdMapping();

    // Adds "id" and "typedProperties" after the base's keys.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base must be valid and the event id present.
    bool isValid() const override;
    // The base's fields and the event id; typed properties are not compared.
    bool isEqual(const DIZAbstractLog& other) const override;

    // The base conversion with this event's name, typed properties and tag.
    std::shared_ptr<DIZCoreSchemaLog> toCoreSchemaLogForTargetToken(const std::string& token,
                                                                    int64_t flags) const override;
    void setPropertiesAndMetadataForCSLog(DIZCoreSchemaLog& log) const;
    // Places the property in the data tree and, when it has a type id, in the metadata tree.
    void addTypedProperty(const DIZTypedProperty& property, Dictionary& metadata,
                          Dictionary& properties) const;
    // False, with a warning, when `key` already holds something (or the tree is gone).
    static bool addTypedProperty(const DIZTypedProperty& property, Dictionary* tree, const std::string& key);

    std::string archiveClassName() const override { return "DIZEventLog"; }
    std::vector<std::string> archiveClassHierarchy() const override { return hierarchyOf("DIZEventLog"); }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<std::string> eventId_;
    std::shared_ptr<DIZEventProperties> typedProperties_;
};
