#pragma once
// The text a value shows in a log line, as the platform describes its objects: a string as itself,
// a number in decimal, null as "(nil)", an object by its own description.
#include <string>

#include "platform/foundation/Value.h"

std::string ZDMDescription(const Value& value);
