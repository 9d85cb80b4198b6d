#pragma once
// 32-bit integer operators. Every operand is evaluated before the count is checked.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPBitwiseCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPBitwiseCommandEvaluator();
};
