#pragma once
// The outside utilities' thread-safe dictionary: text keys, Value objects. Each operation is atomic
// on its own; a read followed by a write is two operations.
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class ZIZMutableDictionary {
  public:
    // Null when the key is absent.
    Value objectForKeyedSubscript(std::string_view key) const;
    // A null object removes the key.
    void setObject(Value object, std::string key);
    void removeAllObjects();
    size_t count() const;

  private:
    mutable std::mutex mutex_;
    Dictionary objects_;
};
