#include "measurement/audiences/experiments/ZDMESnapshot.h"

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/dispatch/Clock.h"

namespace {
constexpr int32_t kSnapshotSDKName = 0;
constexpr int32_t kSnapshotExperiments = 1;
}  // namespace

ZDMESnapshot::ZDMESnapshot(std::string SDKName)
    : SDKName_(std::move(SDKName)), timestamp_(Clock::current().now()) {}

std::shared_ptr<ZDMESnapshot> ZDMESnapshot::initWithSDKName(
    const std::string& SDKName, const std::vector<std::shared_ptr<ZDMEExperiment>>& experiments) {
    if (SDKName.empty()) {
        ZDMEManager::monitor()->logWithLevel(2, 840000, "Cannot create snapshot with an invalid SDK name",
                                             Value(SDKName));
        return nullptr;
    }
    auto snapshot = std::make_shared<ZDMESnapshot>(SDKName);
    for (const auto& experiment : experiments) {
        if (!experiment) {
            ZDMEManager::monitor()->logWithLevel(
                2, 840002, "Cannot create snapshot with an invalid experiment", Value());
            return nullptr;
        }
        auto copy = experiment->copy();
        if (copy) snapshot->experimentsByID_.set(copy->experimentID(), copy);
    }
    return snapshot;
}

std::shared_ptr<ZDMESnapshot> ZDMESnapshot::initWithProtobuf(const ZDMPBSnapshot& message) {
    std::vector<std::shared_ptr<ZDMEExperiment>> experiments;
    for (const auto& element : ZDMPBGetArray(&message, kSnapshotExperiments, &ZDMPBExperiment::messageClass())
                                   .value_or(Value::Array{})) {
        auto experimentMessage = std::dynamic_pointer_cast<const ZDMPBExperiment>(element.asObject());
        if (!experimentMessage) continue;
        if (auto experiment = ZDMEExperiment::initWithProtobuf(*experimentMessage))
            experiments.push_back(experiment);
    }
    return initWithSDKName(ZDMPBGetString(&message, kSnapshotSDKName).value_or(""), experiments);
}

std::shared_ptr<ZDMPBSnapshot> ZDMESnapshot::proto() const {
    auto message = ZDMPBSnapshot::initWithBuffer(nullptr);
    if (!message) return nullptr;
    ZDMPBSetString(message.get(), kSnapshotSDKName, SDKName_);
    Value::Array experiments;
    for (const auto& experiment : this->experiments())
        if (auto experimentMessage = experiment->proto())
            experiments.emplace_back(Value::ObjectPtr(experimentMessage));
    ZDMPBSetArray(message.get(), kSnapshotExperiments, experiments);
    return message;
}

ZDMEFlag ZDMESnapshot::flagByName(const std::string& name) const {
    for (const auto& experiment : experiments())
        if (auto flag = experiment->flagWithName(name)) return flag;
    return nullptr;
}

void ZDMESnapshot::addFlag(const ZDMEFlag& flag, int64_t experimentID) {
    if (!flag) {
        ZDMEManager::monitor()->logWithLevel(2, 840004, "Cannot add an invalid flag into a snapshot",
                                             Value(experimentID));
        return;
    }
    auto experiment = experimentsByID_.get(experimentID).value_or(nullptr);
    if (experiment)
        experiment->addFlag(flag);
    else
        experiment = ZDMEExperiment::initWithExperimentID(experimentID, {flag});
    if (experiment) experimentsByID_.set(experimentID, experiment);
}

void ZDMESnapshot::addFlags(const std::vector<ZDMEFlag>& flags, int64_t experimentID) {
    for (const auto& flag : flags) addFlag(flag, experimentID);
}

std::shared_ptr<ZDMESnapshot> ZDMESnapshot::copy() const {
    return initWithSDKName(SDKName_, experiments());
}
