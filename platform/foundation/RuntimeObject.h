#pragma once
// A class or instance that answers messages by selector name: what code that looks a class up by
// name (instead of linking it) can send it. Tests register fake platform classes of this kind.
#include <string_view>

#include "platform/foundation/Value.h"

class RuntimeObject : public Object {
  public:
    virtual bool respondsToSelector(std::string_view selector) const = 0;
    // The answer to a selector it responds to (an object answer is a Value holding it); null for
    // any other selector.
    virtual Value perform(std::string_view selector) const = 0;
    // The same for a selector that takes one argument; objects that have none answer null.
    virtual Value performWithObject(std::string_view /*selector*/, const Value& /*argument*/) const {
        return Value();
    }
};
