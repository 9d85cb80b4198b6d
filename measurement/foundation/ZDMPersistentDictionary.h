#pragma once
// A configuration store kept in memory and written as a binary plist file in the library's support
// directory. A change schedules one write a second later on the queue "ZDMPersistentDictionary";
// changes within that second ride along, so the file is written at most once a second and never on
// the caller's thread (except at destruction, which writes a pending change at once). The write
// takes a snapshot under the lock and replaces the file atomically outside it.
// An unreadable file is moved aside as "<file name>.corrupt" before the store starts empty, so the
// next write cannot destroy it unseen. Any thread may call it.
#include <memory>
#include <mutex>
#include <string>

#include "measurement/foundation/ZDMConfigStore.h"

class DispatchQueue;

class ZDMPersistentDictionary : public ZDMConfigStore,
                                public std::enable_shared_from_this<ZDMPersistentDictionary> {
  public:
    // nullptr for an empty name, no support directory, or a directory that cannot be made (43004).
    static std::shared_ptr<ZDMPersistentDictionary> make(const std::string& fileName);
    ~ZDMPersistentDictionary() override;

    std::optional<Value> objectForKey(const std::string& key) override;
    void setObject(const Value& value, const std::string& key) override;
    void removeObjectForKey(const std::string& key) override;
    void clearAllData() override;
    // Durability comes from the delayed write; nothing to do here.
    void synchronize() override {}

    void schedulePersistToDisk();
    void persistToDisk();
    const std::string& filePath() const { return filePath_; }

    explicit ZDMPersistentDictionary(std::string filePath, Dictionary content);  // use make()

  private:
    static bool writeFile(const std::string& path, const Dictionary& content);

    const std::string filePath_;
    std::recursive_mutex lock_;
    Dictionary content_;
    bool hasPendingPersistence_ = false;
    std::shared_ptr<DispatchQueue> serialQueue_;
};
