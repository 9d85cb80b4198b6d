#pragma once
// Connects a measurement engine and the conditional user-property controller both ways: the
// controller works on the engine's database, worker queue and event pipeline, and the engine's
// main road asks the controller which events each incoming event triggers.
#include <memory>

class ZDMMeasurement;

// Replaces any earlier connection; nullptr disconnects both sides.
void ZDMConnectConditionalPropertiesToEngine(const std::shared_ptr<ZDMMeasurement>& engine);
