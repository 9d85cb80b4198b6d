#pragma once
// Arithmetic and text joining. Every operand is evaluated (with its side effects) before the count
// is checked.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPMathCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPMathCommandEvaluator();
};
