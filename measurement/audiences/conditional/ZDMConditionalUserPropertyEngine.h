#pragma once
// What the conditional user properties need of the measurement engine, and no more: whether
// measurement is on, its database, its worker queue and its event pipeline. The engine implements
// it and hands itself to the controller; tests hand in one of their own.
#include <memory>

class ZDMDatabase;
class ZDMEvent;
class ZDMScheduler;

class ZDMConditionalUserPropertyEngine {
  public:
    virtual ~ZDMConditionalUserPropertyEngine() = default;

    virtual bool isEnabled() const = 0;
    // Touched only on the worker queue; nullptr while the engine has none.
    virtual ZDMDatabase* database() = 0;
    virtual ZDMScheduler& scheduler() = 0;
    // On the worker queue: logs one event through the engine's event pipeline.
    virtual void writeEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) = 0;
};
