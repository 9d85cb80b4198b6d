#pragma once
// Counted, while, key and item loops. Operand counts are checked before anything is evaluated; every
// statement a loop runs counts against the run budget, which is what ends an endless loop.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPLoopCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPLoopCommandEvaluator();
};
