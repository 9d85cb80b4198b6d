#include "measurement/audiences/conditional/ZDMConditionalPropertiesForEngine.h"

#include <mutex>

#include "measurement/audiences/conditional/ZDMConditionalUserPropertyController.h"
#include "measurement/audiences/conditional/ZDMConditionalUserPropertyEngine.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMDatabase.h"

namespace {
// The engine as the controller sees it. It holds the engine weakly, as the controller would, and its
// scheduler strongly, because the controller takes the scheduler by reference.
class EngineSeam final : public ZDMConditionalUserPropertyEngine {
  public:
    explicit EngineSeam(const std::shared_ptr<ZDMMeasurement>& engine)
        : engine_(engine), scheduler_(engine->scheduler()) {}

    bool isEnabled() const override {
        const auto engine = engine_.lock();
        return engine && engine->isEnabled();
    }
    ZDMDatabase* database() override {
        const auto engine = engine_.lock();
        return engine ? engine->database().get() : nullptr;
    }
    ZDMScheduler& scheduler() override { return *scheduler_; }
    void writeEventOnWorkerQueue(const std::shared_ptr<ZDMEvent>& event) override {
        if (const auto engine = engine_.lock()) engine->writeEventOnWorkerQueue(event);
    }

  private:
    std::weak_ptr<ZDMMeasurement> engine_;
    std::shared_ptr<ZDMScheduler> scheduler_;
};

std::mutex seamMutex;
// The controller holds its engine weakly; the connection keeps the seam alive.
std::shared_ptr<EngineSeam> connectedSeam;
}  // namespace

void ZDMConnectConditionalPropertiesToEngine(const std::shared_ptr<ZDMMeasurement>& engine) {
    const auto controller = ZDMConditionalUserPropertyController::sharedInstance();
    std::shared_ptr<EngineSeam> seam =
        engine && engine->scheduler() ? std::make_shared<EngineSeam>(engine) : nullptr;
    {
        std::lock_guard lock(seamMutex);
        connectedSeam = seam;
    }
    controller->setEngine(seam);
    if (!seam) {
        ZDMMeasurement::setConditionalPropertyProcessor(nullptr);
        return;
    }
    ZDMMeasurement::setConditionalPropertyProcessor([controller](const std::shared_ptr<ZDMEvent>& event) {
        return controller->processEventOnWorkerQueue(event);
    });
}
