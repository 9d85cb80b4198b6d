#pragma once
// Short-circuit and/or and not. Operands are evaluated lazily; and/or yield an operand unchanged.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPLogicalCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPLogicalCommandEvaluator();
};
