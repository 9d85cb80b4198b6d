#include "measurement/audiences/experiments/ZDMEExperiment.h"

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {
constexpr int32_t kFlagName = 0;
constexpr int32_t kExperimentID = 0;
constexpr int32_t kExperimentFlags = 1;
}  // namespace

std::shared_ptr<ZDMEExperiment> ZDMEExperiment::initWithExperimentID(int64_t experimentID,
                                                                     const std::vector<ZDMEFlag>& flags) {
    auto experiment = std::make_shared<ZDMEExperiment>(experimentID);
    for (const auto& flag : flags) {
        if (!flag) {
            ZDMEManager::monitor()->logWithLevel(2, 870003, "Cannot add non-flag into the experiment. Flag",
                                                 Value());
            return nullptr;
        }
        // A nameless flag is kept under the empty name: it can be carried but never looked up.
        experiment->flagsByName_.set(ZDMPBGetString(flag.get(), kFlagName).value_or(""), flag);
    }
    return experiment;
}

std::shared_ptr<ZDMEExperiment> ZDMEExperiment::initWithProtobuf(const ZDMPBExperiment& message) {
    const int64_t experimentID =
        ZDMPBHasField(&message, kExperimentID) ? ZDMPBGetInt32(&message, kExperimentID) : 0;
    std::vector<ZDMEFlag> flags;
    for (const auto& element :
         ZDMPBGetArray(&message, kExperimentFlags, &ZDMPBFlag::messageClass()).value_or(Value::Array{}))
        flags.push_back(std::dynamic_pointer_cast<const ZDMPBFlag>(element.asObject()));
    return initWithExperimentID(experimentID, flags);
}

std::shared_ptr<ZDMPBExperiment> ZDMEExperiment::proto() const {
    auto message = ZDMPBExperiment::initWithBuffer(nullptr);
    if (!message) return nullptr;
    ZDMPBSetInt32(message.get(), kExperimentID, static_cast<int32_t>(experimentID_));
    Value::Array flags;
    for (const auto& flag : this->flags()) flags.emplace_back(Value::ObjectPtr(flag));
    ZDMPBSetArray(message.get(), kExperimentFlags, flags);
    return message;
}

void ZDMEExperiment::addFlag(const ZDMEFlag& flag) {
    if (!flag) {
        ZDMEManager::monitor()->logWithLevel(2, 870004, "Cannot add empty flag into an experiment. ID",
                                             Value(experimentID_));
        return;
    }
    auto name = ZDMPBGetString(flag.get(), kFlagName);
    if (!ZDMPBHasField(flag.get(), kFlagName) || !name) {
        ZDMEManager::monitor()->logWithLevel(
            2, 870006, "Cannot add a flag without name into an experiment. ID", Value(experimentID_));
        return;
    }
    flagsByName_.set(*name, flag);
}

ZDMEFlag ZDMEExperiment::flagWithName(const std::string& name) const {
    if (name.empty()) {
        ZDMEManager::monitor()->logWithLevel(2, 870007, "Cannot retrieve a flag without a flag name");
        return nullptr;
    }
    return flagsByName_.get(name).value_or(nullptr);
}

std::shared_ptr<ZDMEExperiment> ZDMEExperiment::copy() const {
    return initWithExperimentID(experimentID_, flags());
}
