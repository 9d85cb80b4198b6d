#include "measurement/foundation/ZDMMonitoringSampledData.h"

#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <random>

namespace {
enum Index { kContext = 0, kPopulation = 1, kKey = 2, kStartTime = 3 };
}  // namespace

ZDMMonitoringSampledData::RandomSource ZDMMonitoringSampledData::systemRandomSource() {
    struct Generator {
        std::mutex mutex;
        std::mt19937 engine{std::random_device{}()};
    };
    auto generator = std::make_shared<Generator>();
    return [generator](uint32_t bound) {
        std::lock_guard lock(generator->mutex);
        return std::uniform_int_distribution<uint32_t>(0, bound - 1)(generator->engine);
    };
}

ZDMMonitoringSampledData::ZDMMonitoringSampledData(const Value& array, RandomSource random)
    : random_(std::move(random)) {
    if (isValidUserDefaultsArrayEntry(array)) sampledData_ = *array.asArray();
}

void ZDMMonitoringSampledData::insertOrUpdateSampledDataWithKey(const std::string& key,
                                                                const std::string& encodedContext) {
    if (sampledData_.empty()) {
        sampledData_ = sampledDataEntryWithKey(key, Date::now(), encodedContext, 1);
        return;
    }
    const int64_t seen = sampledData_[kPopulation].integerOr(0);
    // The count stops at the largest 32-bit number rather than wrapping to a negative one.
    const int32_t population = seen >= std::numeric_limits<int32_t>::max()
                                   ? std::numeric_limits<int32_t>::max()
                                   : static_cast<int32_t>(seen + 1);
    sampledData_[kPopulation] = Value(population);
    if (random_(static_cast<uint32_t>(population)) == 0) {
        sampledData_[kKey] = Value(key);
        sampledData_[kContext] = Value(encodedContext);
    }
}

std::optional<std::string> ZDMMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
    const double now = Date::now().timeIntervalSince1970();
    if (sampledData_.empty()) {
        if (lastSampledTimestamp > 0 && std::fabs(now - lastSampledTimestamp) > samplePeriod) return "0:";
        return std::nullopt;
    }
    if (!(sampledData_[kStartTime].asDate()->timeIntervalSince1970() < now - samplePeriod))
        return std::nullopt;
    std::string text = monitoringURLParamWithKey(sampledData_[kKey].stringOr(""),
                                                 static_cast<int32_t>(sampledData_[kPopulation].integerOr(0)),
                                                 sampledData_[kContext].stringOr(""));
    sampledData_.clear();
    return text;
}

bool ZDMMonitoringSampledData::isValidUserDefaultsArrayEntry(const Value& array) {
    const Value::Array* items = array.asArray();
    return items && items->size() == 4 && (*items)[kContext].isString() && (*items)[kPopulation].isNumber() &&
           (*items)[kKey].isString() && (*items)[kStartTime].isDate();
}

std::string ZDMMonitoringSampledData::monitoringURLParamWithKey(const std::string& key, int32_t population,
                                                                const std::string& context) {
    std::string text = std::to_string(population) + ":" + key;
    if (!context.empty()) text += ":" + context;
    return text;
}

Value::Array ZDMMonitoringSampledData::sampledDataEntryWithKey(const std::string& key, Date timestamp,
                                                               const std::string& context,
                                                               int32_t population) {
    return {Value(context), Value(population), Value(key), Value(timestamp)};
}
