#pragma once
// Small persistent settings by suite (a preferences domain), kept as one binary property list per
// suite in FileLocations::preferencesDirectory() and written through on every change. A corrupt file is moved
// aside (never deleted) and the suite starts empty; one that cannot be moved aside is left as it is, and the
// suite's changes then stay in memory.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class UserDefaults {
  public:
    // The suite named after the main bundle's identifier.
    static std::shared_ptr<UserDefaults> standardUserDefaults();
    // Forgets the shared instances, so the next call reads the files again (tests use this).
    static void resetStandardUserDefaults();
    // A named suite; instances of one name share their state within the process.
    static std::shared_ptr<UserDefaults> suite(const std::string& name);

    const std::string& suiteName() const { return name_; }

    std::optional<Value> objectForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Data> dataForKey(const std::string& key) const;
    std::optional<Value::Array> arrayForKey(const std::string& key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string& key) const;
    int64_t integerForKey(const std::string& key) const;  // 0 when absent or not a number
    double doubleForKey(const std::string& key) const;    // 0 when absent or not a number
    bool boolForKey(const std::string& key) const;        // false when absent or not a number

    // A null Value removes the key. An array or dictionary holding anything but property-list values
    // raises an Exception (NSInvalidArgumentException) and changes nothing.
    void setObject(const Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);
    Dictionary dictionaryRepresentation() const;
    // Writes again what a failed write left unsaved; true when the file holds every change.
    bool synchronize();
    // Drops every key of the suite `name` and its file.
    void removePersistentDomainForName(const std::string& name);

    explicit UserDefaults(std::string name);  // use suite() or standardUserDefaults()

  private:
    void load();
    void persist() const;
    void removeAll();
    // Renames the unreadable file at the suite's path to a free name; false when it cannot.
    bool moveDamagedFileAside() const;

    std::string name_;
    mutable std::mutex mutex_;
    Dictionary values_;
    // An unreadable file that could not be moved aside still holds the path: it is never written over.
    mutable bool damagedFileInPlace_ = false;
    // The last write failed, so the file lacks changes that are in memory.
    mutable bool unsaved_ = false;
};
