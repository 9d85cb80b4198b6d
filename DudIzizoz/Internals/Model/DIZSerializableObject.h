#pragma once
// What every model of the client offers: its JSON dictionary (none for a part that has nothing to
// say) and a check of its own fields.
#include <optional>

#include "platform/foundation/Value.h"

class DIZSerializableObject {
  public:
    virtual ~DIZSerializableObject() = default;
    // Keys whose value is absent are left out.
    virtual std::optional<Dictionary> serializeToDictionary() const = 0;
};

class DIZModel {
  public:
    virtual ~DIZModel() = default;
    virtual bool isValid() const = 0;
};

// A dictionary whose keys keep the order in which each was first set, so JSON written from it keeps
// that order; the platform's dictionary already behaves so.
using DIZOrderedDictionary = Dictionary;
