#pragma once
// Equality and ordering. Exactly two operands are required before either is evaluated.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPComparisonCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPComparisonCommandEvaluator();
};
