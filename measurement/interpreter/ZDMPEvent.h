#pragma once
// An event as the event-editing interpreter sees it: a name, a time and plain parameters (numbers,
// strings, and arrays of dictionaries of such values). Edit callbacks change a working copy of it.
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class ZDMPEvent {
  public:
    static std::shared_ptr<ZDMPEvent> initWithName(std::string name, double timestamp, Dictionary parameters);
    // A new event with the same name, time and a copy of the parameters.
    std::shared_ptr<ZDMPEvent> copy() const { return initWithName(name_, timestamp_, parameters_); }

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    const Dictionary& parameters() const { return parameters_; }

    // Nullptr when absent.
    const Value* parameterForName(const std::string& name) const { return parameters_.find(name); }
    bool hasParameterName(const std::string& name) const { return parameters_.contains(name); }
    // A null value removes the parameter; any other is coerced against the current one
    // (ZDMPCoerceParameter) and stored.
    void setParameter(Value value, const std::string& name);

    // Same time (within the double's epsilon), name and parameters, numbers also agreeing on being
    // integer or floating-point. Parameters are compared both ways, so that an edit that only
    // removes one still counts as an edit.
    bool isEqualToEvent(const ZDMPEvent& other) const;

  private:
    ZDMPEvent(std::string name, double timestamp, Dictionary parameters)
        : name_(std::move(name)), timestamp_(timestamp), parameters_(std::move(parameters)) {}

    std::string name_;
    double timestamp_;
    Dictionary parameters_;
};

// What a number written over a parameter becomes, given the parameter's current value (nullptr
// when it has none): "_syn", "_err" and "_el" and integer parameters take whole numbers, an
// internal ("_") integer parameter keeps its value, a text parameter takes the number's text.
// Values that are not numbers pass unchanged.
Value ZDMPCoerceParameter(const std::string& name, const Value* current, Value value);
