#pragma once
// Structure: statement lists, blocks, branches, switch, function definitions, method calls, break,
// continue and return. Handlers take the arguments as written and evaluate what they need.
#include "measurement/interpreter/ZDMPCommandEvaluator.h"

class ZDMPControlCommandEvaluator final : public ZDMPHandlerTableEvaluator {
  public:
    ZDMPControlCommandEvaluator();
};
