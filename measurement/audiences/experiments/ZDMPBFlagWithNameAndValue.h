#pragma once
// Builds a flag message from a registered default: beside the experiment manager rather than with
// the wire messages, because its refusals are logged on the manager's monitor, which sits above
// the wire layer.
#include <memory>

#include "measurement/wire/ZDMPBExperimentMessages.h"
#include "platform/foundation/Value.h"

// A flag named `name` holding `value`: a string in the string field, a real number in the double
// field, any other number (integers and booleans) in the integer field. nullptr, with a level-1
// report, for a null or non-string name (850000, 850001) or a value that is neither a number nor a
// string (850002); the refused object's class goes with the report.
std::shared_ptr<ZDMPBFlag> ZDMPBFlagWithNameAndValue(const Value& name, const Value& value);
