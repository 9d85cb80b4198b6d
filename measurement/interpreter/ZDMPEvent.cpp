#include "measurement/interpreter/ZDMPEvent.h"

#include <cmath>

#include "measurement/interpreter/ZDMPConversions.h"

namespace {

bool isNumberObject(const Value& value) {
    return value.isInteger() || value.isReal();
}

// Platform equality, and numbers must also be of the same kind: 1 and 1.0 differ as parameters.
bool sameParameter(const Value& a, const Value& b) {
    if (isNumberObject(a) && isNumberObject(b) && a.isReal() != b.isReal()) return false;
    return a == b;
}

Value wholeNumber(const Value& number) {
    if (number.isInteger()) return number;
    const double x = number.realOr(0);
    // A NaN has no whole part to keep; it goes on as text, as programs' NaN values do.
    if (std::isnan(x)) return Value("NaN");
    return Value(ZDMPInt64Part(x));
}

Value decimalText(const Value& number) {
    if (number.isInteger()) return Value(std::to_string(*number.asInteger()));
    return Value(ZDMPUtf8(ZDMPNumberToText(number.realOr(0))));
}

}  // namespace

std::shared_ptr<ZDMPEvent> ZDMPEvent::initWithName(std::string name, double timestamp,
                                                   Dictionary parameters) {
    return std::shared_ptr<ZDMPEvent>(new ZDMPEvent(std::move(name), timestamp, std::move(parameters)));
}

void ZDMPEvent::setParameter(Value value, const std::string& name) {
    if (value.isNull()) {
        parameters_.erase(name);
        return;
    }
    parameters_.set(name, ZDMPCoerceParameter(name, parameters_.find(name), std::move(value)));
}

bool ZDMPEvent::isEqualToEvent(const ZDMPEvent& other) const {
    if (this == &other) return true;
    if (std::fabs(timestamp_ - other.timestamp_) > 2.220446049250313e-16) return false;
    if (name_ != other.name_ || parameters_.size() != other.parameters_.size()) return false;
    for (const std::string& key : parameters_.keys()) {
        const Value* theirs = other.parameters_.find(key);
        if (!theirs || !sameParameter(*parameters_.find(key), *theirs)) return false;
    }
    return true;
}

Value ZDMPCoerceParameter(const std::string& name, const Value* current, Value value) {
    if (!isNumberObject(value)) return value;
    if (name == "_syn" || name == "_err" || name == "_el") {
        value = wholeNumber(value);
        if (!isNumberObject(value)) return value;
    }
    if (current && isNumberObject(*current)) {
        if (current->isReal()) return value;
        if (!name.empty() && name[0] == '_') return *current;
        return wholeNumber(value);
    }
    if (current && current->isString()) return decimalText(value);
    return value;
}
