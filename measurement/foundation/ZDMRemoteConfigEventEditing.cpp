#include "measurement/foundation/ZDMRemoteConfigEventEditing.h"

#include <mutex>

#include "measurement/foundation/ZDMErrors.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBProgramMessages.h"

namespace {
constexpr int32_t kInstructionsIndex = 0;
constexpr int32_t kActivitiesIndex = 1;
constexpr int32_t kActivityListIndex = 0;

class ProgramlessEventEditing : public ZDMRemoteConfigEventEditing {
  public:
    void setHostModules(HostModules modules) override { modules_ = std::move(modules); }
    bool loadProgram(const ZDMPBProgram& program, Error* error) override {
        if (isEmptyProgram(program)) return true;
        ZDMSetError(error, 7, "Programs cannot run: no interpreter is available");
        return false;
    }

  private:
    static size_t countOf(const NANOMessageBase* message, int32_t index, const ZDMPBClass& elementClass) {
        const auto elements = ZDMPBGetArray(message, index, &elementClass);
        return elements ? elements->size() : 0;
    }
    static bool isEmptyProgram(const ZDMPBProgram& program) {
        if (countOf(&program, kInstructionsIndex, ZDMPBRuntimeEntity::messageClass()) != 0) return false;
        if (!ZDMPBHasField(&program, kActivitiesIndex)) return true;
        const auto activities = ZDMPBGetMessage<ZDMPBOgtActivities>(&program, kActivitiesIndex);
        return !activities ||
               countOf(activities.get(), kActivityListIndex, ZDMPBOgtActivity::messageClass()) == 0;
    }

    HostModules modules_;
};

struct FactorySlot {
    std::mutex mutex;
    ZDMRemoteConfigEventEditing::Factory factory;
};

FactorySlot& factorySlot() {
    static auto* slot = new FactorySlot;  // never destroyed: configurations are parsed on queues
    return *slot;
}
}  // namespace

std::shared_ptr<ZDMRemoteConfigEventEditing> ZDMMakeProgramlessEventEditing() {
    return std::make_shared<ProgramlessEventEditing>();
}

void ZDMRemoteConfigEventEditing::setFactory(Factory factory) {
    std::lock_guard lock(factorySlot().mutex);
    factorySlot().factory = std::move(factory);
}

std::shared_ptr<ZDMRemoteConfigEventEditing> ZDMRemoteConfigEventEditing::make() {
    Factory factory;
    {
        std::lock_guard lock(factorySlot().mutex);
        factory = factorySlot().factory;
    }
    return factory ? factory() : ZDMMakeProgramlessEventEditing();
}
