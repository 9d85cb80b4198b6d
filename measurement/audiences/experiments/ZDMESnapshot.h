#pragma once
// All experiments of one SDK as received at one time, one experiment per ID (a later one of an ID
// replaces the earlier). Created (and copied) with the current time of the process clock and not
// manually activated: a copy is a new arrival, not the stored row it came from.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEExperiment.h"

class ZDMESnapshot {
  public:
    // nullptr for an empty SDK name (840000) or a missing experiment (840002). Each experiment is
    // stored as a copy.
    static std::shared_ptr<ZDMESnapshot> initWithSDKName(
        const std::string& SDKName, const std::vector<std::shared_ptr<ZDMEExperiment>>& experiments);
    // Experiments that cannot be made are skipped.
    static std::shared_ptr<ZDMESnapshot> initWithProtobuf(const ZDMPBSnapshot& message);

    const std::string& SDKName() const { return SDKName_; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    bool manuallyActivated() const { return manuallyActivated_; }
    void setManuallyActivated(bool manuallyActivated) { manuallyActivated_ = manuallyActivated; }

    // Ordered by experiment ID.
    std::vector<std::shared_ptr<ZDMEExperiment>> experiments() const { return experimentsByID_.values(); }
    std::shared_ptr<ZDMPBSnapshot> proto() const;
    // The first experiment (by ID) carrying the flag; nullptr when none does.
    ZDMEFlag flagByName(const std::string& name) const;
    // Into the experiment of that ID, made when missing (840004 for a missing flag).
    void addFlag(const ZDMEFlag& flag, int64_t experimentID);
    void addFlags(const std::vector<ZDMEFlag>& flags, int64_t experimentID);
    std::shared_ptr<ZDMESnapshot> copy() const;

    explicit ZDMESnapshot(std::string SDKName);

  private:
    const std::string SDKName_;
    // Atomic: a snapshot handed from the manager's queue to the worker queue is read on both.
    std::atomic<double> timestamp_;
    std::atomic<bool> manuallyActivated_ = false;
    ZDMEConcurrentMap<int64_t, std::shared_ptr<ZDMEExperiment>> experimentsByID_;
};
