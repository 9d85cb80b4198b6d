#pragma once
// One experiment of an SDK: its ID and its flags, one flag per name (a later flag of a name
// replaces the earlier). Experiment 0 carries the SDK's launched flags, in force for everybody.
// Safe for concurrent use: the flags live in a concurrent map and readers work on a copy.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEConcurrentMap.h"
#include "measurement/wire/ZDMPBExperimentMessages.h"

using ZDMEFlag = std::shared_ptr<const ZDMPBFlag>;

class ZDMEExperiment {
  public:
    // nullptr (870003) when an element is missing: the whole experiment is refused.
    static std::shared_ptr<ZDMEExperiment> initWithExperimentID(int64_t experimentID,
                                                                const std::vector<ZDMEFlag>& flags);
    // A message without an ID becomes experiment 0.
    static std::shared_ptr<ZDMEExperiment> initWithProtobuf(const ZDMPBExperiment& message);

    int64_t experimentID() const { return experimentID_; }
    // All flags, ordered by name.
    std::vector<ZDMEFlag> flags() const { return flagsByName_.values(); }
    std::shared_ptr<ZDMPBExperiment> proto() const;
    // Refuses a missing flag (870004) and one without a name (870006).
    void addFlag(const ZDMEFlag& flag);
    // nullptr for an empty name (870007) or an unknown one.
    ZDMEFlag flagWithName(const std::string& name) const;
    std::shared_ptr<ZDMEExperiment> copy() const;

    explicit ZDMEExperiment(int64_t experimentID) : experimentID_(experimentID) {}

  private:
    const int64_t experimentID_;
    ZDMEConcurrentMap<std::string, ZDMEFlag> flagsByName_;
};
