#pragma once
// The platform class a Value stands for ("NSNumber", "NSString", "NSData", …; an object by its own
// class name), as texts about refused values name what they were given.
#include <string>

#include "platform/foundation/Value.h"

std::string classNameOf(const Value& value);
