#pragma once
// A one-entry random sample of the monitorable reports: [encoded context, population, sample key,
// start time], or nothing. Each report since the entry started is equally likely to be the one
// kept. Not thread-safe: the monitor uses it on its queue only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/Value.h"

class ZDMMonitoringSampledData {
  public:
    // A uniform random integer below `bound` (which is at least 1).
    using RandomSource = std::function<uint32_t(uint32_t bound)>;
    static RandomSource systemRandomSource();

    // Keeps `array` only when it is a well-formed entry; otherwise starts empty.
    explicit ZDMMonitoringSampledData(const Value& array, RandomSource random = systemRandomSource());

    void insertOrUpdateSampledDataWithKey(const std::string& key, const std::string& encodedContext);
    // The entry's text once it is older than `samplePeriod` seconds (the entry is then dropped);
    // "0:" when there is no entry but the last sample lies more than a period from now; else nothing.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                         double lastSampledTimestamp);
    Value::Array sampledData() const { return sampledData_; }

    // Exactly four items typed string, number, string, date.
    static bool isValidUserDefaultsArrayEntry(const Value& array);
    static std::string monitoringURLParamWithKey(const std::string& key, int32_t population,
                                                 const std::string& context);
    static Value::Array sampledDataEntryWithKey(const std::string& key, Date timestamp,
                                                const std::string& context, int32_t population);

  private:
    Value::Array sampledData_;
    RandomSource random_;
};
