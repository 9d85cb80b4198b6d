#pragma once
// Declarations, assignment, variable and property access, array and object literals, type-of and the
// undefined and null literals. Handlers take the evaluated arguments.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPVariableCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPVariableCommandEvaluator();
};
