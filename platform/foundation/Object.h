#pragma once
// An object of the system's own classes that travels inside a Value (the design's id): a message
// object, a measurement value. Shared and immutable once it is in a Value.
#include <cstddef>
#include <functional>
#include <string>

class Object {
  public:
    virtual ~Object() = default;
    // The design's class name, as logs print it.
    virtual std::string className() const = 0;
    virtual std::string description() const { return "<" + className() + ">"; }
    // Identity unless the class compares by content.
    virtual bool isEqual(const Object& other) const { return this == &other; }
    virtual size_t hash() const { return std::hash<const void*>{}(this); }
};
