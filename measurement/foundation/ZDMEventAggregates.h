#pragma once
// The counters of one event name, as the database keeps them in its events table. Counts never go
// negative: past the largest int32 they start over at 0.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Value.h"

class ZDMEventAggregates {
  public:
    // nullptr for a name that is not a valid internal event name or a negative count (17000).
    static std::shared_ptr<ZDMEventAggregates> initWithName(const std::string& name, int32_t lifetimeCount,
                                                            int32_t currentBundleCount,
                                                            int32_t currentSessionCount,
                                                            double lastFireTimestamp);

    void incrementLifetimeCount();
    void incrementCurrentBundleCount();
    void incrementCurrentSessionCount();

    const std::string& name() const { return name_; }
    int32_t lifetimeCount() const { return lifetimeCount_; }
    int32_t currentBundleCount() const { return currentBundleCount_; }
    int32_t currentSessionCount() const { return currentSessionCount_; }
    double lastFireTimestamp() const { return lastFireTimestamp_; }
    void setLastFireTimestamp(double v) { lastFireTimestamp_ = v; }
    double lastBundledTimestamp() const { return lastBundledTimestamp_; }
    void setLastBundledTimestamp(double v) { lastBundledTimestamp_ = v; }
    // A number or null.
    const Value& lastSampledComplexEventID() const { return lastSampledComplexEventID_; }
    void setLastSampledComplexEventID(Value v) { lastSampledComplexEventID_ = std::move(v); }
    int32_t lastSamplingRate() const { return lastSamplingRate_; }
    void setLastSamplingRate(int32_t v) { lastSamplingRate_ = v; }
    bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
    void setLastExemptFromSampling(bool v) { lastExemptFromSampling_ = v; }
    int32_t lastBundledDay() const { return lastBundledDay_; }
    void setLastBundledDay(int32_t v) { lastBundledDay_ = v; }

  private:
    ZDMEventAggregates() = default;

    std::string name_;
    int32_t lifetimeCount_ = 0;
    int32_t currentBundleCount_ = 0;
    int32_t currentSessionCount_ = 0;
    double lastFireTimestamp_ = 0;
    double lastBundledTimestamp_ = 0;
    Value lastSampledComplexEventID_;
    int32_t lastSamplingRate_ = 1;
    bool lastExemptFromSampling_ = false;
    int32_t lastBundledDay_ = 0;
};
