#pragma once
// The typed properties of one event, by key; each entry's key is its property's name. The bag
// itself enforces no count or length limit: the analytics service does on its own road. Safe to
// use from several threads.
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZTypedProperty.h"

class DIZEventProperties : public Codable {
  public:
    // In the order the keys were first set; a replaced entry keeps its place.
    using Entries = std::vector<std::pair<std::string, std::shared_ptr<DIZTypedProperty>>>;

    DIZEventProperties() = default;
    // One string property per entry, unchecked.
    explicit DIZEventProperties(const std::vector<std::pair<std::string, std::string>>& strings);
    DIZEventProperties(const DIZEventProperties& other);
    DIZEventProperties& operator=(const DIZEventProperties&) = delete;

    // Each setter refuses a missing key (and a missing value, or a double that is not finite) with
    // an error line and leaves the bag as it was.
    DIZEventProperties& setString(const std::optional<std::string>& value,
                                  const std::optional<std::string>& key);
    DIZEventProperties& setDouble(double value, const std::optional<std::string>& key);
    DIZEventProperties& setInt64(int64_t value, const std::optional<std::string>& key);
    DIZEventProperties& setBool(bool value, const std::optional<std::string>& key);
    DIZEventProperties& setDate(const std::optional<Date>& value, const std::optional<std::string>& key);

    // Adds or replaces the property under its name.
    void setProperty(const std::shared_ptr<DIZTypedProperty>& property);
    void removeProperty(const std::string& key);
    std::shared_ptr<DIZTypedProperty> property(const std::string& key) const;
    Entries properties() const;
    size_t count() const;
    bool isEmpty() const;
    // Takes every entry of `other`, replacing those with the same key.
    void mergeEventProperties(const DIZEventProperties& other);
    // Each property's JSON object, in order.
    Value::Array serializeToArray() const;
    // The same keys with equal properties.
    bool isEqual(const DIZEventProperties& other) const;

    static bool validateKey(const std::optional<std::string>& key);
    template <class T>
    static bool validateValue(const std::optional<T>& value);

    std::string archiveClassName() const override { return "DIZEventProperties"; }
    // The dictionary is the archive's one unkeyed object.
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    void add(const std::string& key, std::shared_ptr<DIZTypedProperty> property);

    mutable std::mutex lock_;
    Entries properties_;
};
