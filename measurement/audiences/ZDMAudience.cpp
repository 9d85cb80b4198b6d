#include "measurement/audiences/ZDMAudience.h"

#include <map>

#include "measurement/audiences/filters/ZDMAudienceFilterMatching.h"
#include "measurement/audiences/filters/ZDMAudienceTimestampsCache.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMDebugDescription.h"
#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventAggregates.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMFilterResult.h"
#include "measurement/foundation/ZDMNameMaps.h"
#include "measurement/foundation/ZDMPropertyFilter.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

// Field indexes (wire tag - 1) of the messages read here.
namespace AudienceField {
constexpr int32_t kID = 0, kPropertyFilters = 1, kEventFilters = 2;
}
namespace EventFilterField {
constexpr int32_t kID = 0, kName = 1, kFilters = 2, kCountFilter = 4, kDynamic = 5, kSequence = 6,
                  kSessionScoped = 7;
}
namespace PropertyFilterField {
constexpr int32_t kID = 0, kName = 1, kFilter = 2, kDynamic = 3, kSequence = 4, kSessionScoped = 5;
}
namespace FilterField {
constexpr int32_t kString = 0, kNumber = 1, kParameterName = 3;
}
namespace ResultField {
constexpr int32_t kStatus = 0, kResults = 1, kDynamicTimestamps = 2, kSequenceTimestamps = 3;
}
namespace TimestampField {
constexpr int32_t kFilterID = 0, kTimes = 1;
}
namespace LeafField {
constexpr int32_t kAudienceID = 0, kCurrent = 1, kPrevious = 2, kNewAudience = 3;
}
namespace UserAttributeField {
constexpr int32_t kSetTime = 0, kName = 1, kString = 2, kInt = 3, kDouble = 5;
}
constexpr int32_t kNumberFilterMatchAsFloat = 1;

std::shared_ptr<ZDMMonitor> monitor() {
    return ZDMMeasurement::monitor();
}

// A database answer of nothing is a failure only when it came with an error.
bool hasError(const Error& error) {
    return !error.domain.empty() || error.code != 0 || !error.description.empty();
}

// Logs one failed database call with its error; NO for the caller to hand on.
bool failed(int64_t level, int64_t code, const char* message, const Error& error) {
    ZDMMeasurement::monitor()->logWithLevel(level, code, message, ErrorObject::value(error));
    return false;
}

// The database's answer, nothing without an error read as an empty one; nullopt, logged at level 1,
// on failure.
template <class T>
std::optional<T> answerOrFailure(std::optional<T> answer, const Error& error, int64_t code,
                                 const char* message) {
    if (answer) return answer;
    if (!hasError(error)) return T();
    failed(1, code, message, error);
    return std::nullopt;
}

Value messageContext(const std::shared_ptr<NANOMessageBase>& message) {
    return message ? Value(Value::ObjectPtr(message)) : Value();
}

template <class Message>
std::vector<std::shared_ptr<Message>> messagesAt(const NANOMessageBase& message, int32_t index) {
    std::vector<std::shared_ptr<Message>> messages;
    for (const Value& element :
         ZDMPBGetArray(&message, index, &Message::messageClass()).value_or(Value::Array())) {
        if (auto sub = element.objectAs<Message>()) messages.push_back(std::const_pointer_cast<Message>(sub));
    }
    return messages;
}

template <class Message>
void setMessagesAt(NANOMessageBase& message, int32_t index,
                   const std::vector<std::shared_ptr<Message>>& subs) {
    Value::Array elements;
    for (const auto& sub : subs) elements.emplace_back(Value::ObjectPtr(sub));
    ZDMPBSetArray(&message, index, elements);
}

std::vector<uint64_t> wordsAt(const ZDMPBResultData& data, int32_t index) {
    std::vector<uint64_t> words;
    for (const Value& word : ZDMPBGetArray(&data, index).value_or(Value::Array()))
        words.push_back(static_cast<uint64_t>(word.integerOr(0)));
    return words;
}

void setWordsAt(ZDMPBResultData& data, int32_t index, const std::vector<uint64_t>& words) {
    Value::Array elements;
    for (uint64_t word : words) elements.emplace_back(word);
    ZDMPBSetArray(&data, index, elements);
}

uint64_t bitOf(int32_t filterID) {
    return uint64_t{1} << ZDMFilterBitIndex(filterID);
}

// Decoded current results; nullptr when the bytes do not decode.
std::shared_ptr<ZDMPBResultData> decodedResults(const Data& bytes) {
    return ZDMPBResultData::initWithBuffer(bytes);
}

Data encoded(const NANOMessageBase& message) {
    return message.protoBuffer().value_or(Data());
}

std::string textAt(const NANOMessageBase& message, int32_t index) {
    return ZDMPBGetString(&message, index).value_or("");
}

// The internal name of a public one; other names stay.
std::string internalName(const std::string& name, const Dictionary& publicToInternal) {
    const Value* internal = publicToInternal.find(name);
    return internal && internal->asString() ? *internal->asString() : name;
}

}  // namespace

std::shared_ptr<ZDMAudience> ZDMAudience::initWithDatabase(std::shared_ptr<ZDMDatabase> database) {
    if (!database) return nullptr;
    return std::make_shared<ZDMAudience>(std::move(database));
}

// Decision rules ----------------------------------------------------------------------------------

bool ZDMShouldEvaluateFilter(bool currentValue, const ZDMAudienceFilter& filter) {
    return !currentValue || filter.isDynamic() || filter.isSequence() || filter.isSessionScoped();
}

bool ZDMShouldApplyPropertyResult(bool outcome, const ZDMPropertyFilter& filter) {
    return outcome || (filter.isDynamic() && !filter.isSessionScoped());
}

namespace {
// The stored filter's message; nullptr, logged, when its bytes are empty or do not decode.
template <class Message>
std::shared_ptr<Message> decodedFilter(const ZDMAudienceFilter& filter, const Value& nameForLog, int64_t code,
                                       const char* text) {
    auto message = filter.data().empty() ? nullptr : Message::initWithBuffer(filter.data());
    if (!message)
        monitor()->logWithContexts(
            1, code, text,
            {nameForLog, Value(filter.filterID()), Value(filter.audienceID()), Value(filter.isDynamic())});
    return message;
}
}  // namespace

std::optional<bool> ZDMEvaluateStoredEventFilter(const ZDMEventFilter& filter, const Dictionary& parameters,
                                                 const ZDMEventAggregates* eventAggregates) {
    const auto message = decodedFilter<ZDMPBEventFilter>(
        filter, Value(ZDMEventNameForLog(Value(filter.eventName()))), 6035,
        "Event filter contains no data or corrupt data. Event will not be evaluated. Event name, filter ID, "
        "audience ID, dynamic");
    if (!message) return std::nullopt;
    return ZDMEvaluateEventFilter(message.get(), filter.eventName(), parameters, eventAggregates);
}

std::optional<bool> ZDMEvaluateStoredPropertyFilter(bool currentValue, const ZDMPropertyFilter& filter,
                                                    const ZDMUserAttribute& userProperty) {
    const auto message = decodedFilter<ZDMPBPropertyFilter>(
        filter, Value(ZDMUserPropertyNameForLog(Value(filter.propertyName()))), 6036,
        "User property filter contains no data or corrupt data. User property will not be evaluated. User "
        "property name, filter ID, audience ID, dynamic");
    if (!message) return std::nullopt;
    const auto outcome = ZDMEvaluatePropertyFilter(message.get(), &userProperty);
    if (!currentValue || outcome == true || filter.isDynamic() || filter.isSequence()) return outcome;
    // A plain filter that was true stays so unless its truth is only for the session.
    return filter.isSessionScoped() ? outcome : std::nullopt;
}

std::shared_ptr<ZDMUserAttribute> ZDMUserAttributeFromWireUserAttribute(
    const ZDMPBUserAttribute& userProperty) {
    std::shared_ptr<const ZDMValue> value;
    if (ZDMPBHasField(&userProperty, UserAttributeField::kString))
        value = ZDMValue::initWithString(Value(textAt(userProperty, UserAttributeField::kString)));
    else if (ZDMPBHasField(&userProperty, UserAttributeField::kDouble))
        value = ZDMValue::initWithDouble(ZDMPBGetDouble(&userProperty, UserAttributeField::kDouble));
    else if (ZDMPBHasField(&userProperty, UserAttributeField::kInt))
        value = ZDMValue::initWithInt64(ZDMPBGetInt64(&userProperty, UserAttributeField::kInt));
    if (!value) return nullptr;
    const double lastSet =
        static_cast<double>(ZDMPBGetInt64(&userProperty, UserAttributeField::kSetTime)) / 1000.0;
    return ZDMUserAttribute::initWithOrigin("", textAt(userProperty, UserAttributeField::kName),
                                            std::move(value), lastSet);
}

bool ZDMResultStatusHasAnyBit(const std::vector<uint64_t>& status) {
    for (uint64_t word : status)
        if (word != 0) return true;
    return false;
}

// Result rows ------------------------------------------------------------------------------------

bool ZDMAudience::isFilterResult(const ZDMFilterResult* filterResult, int32_t filterID) {
    if (!filterResult || filterResult->currentResults().empty()) return false;
    const auto data = decodedResults(filterResult->currentResults());
    const auto status = data ? wordsAt(*data, ResultField::kStatus) : std::vector<uint64_t>();
    const auto results = data ? wordsAt(*data, ResultField::kResults) : std::vector<uint64_t>();
    if (status.empty() || results.empty()) {
        monitor()->logWithLevel(2, 6023,
                                "Audience filter result is non-nil and is missing status or results array. "
                                "Audience result will not be bundled. Audience ID, result data",
                                Value(filterResult->audienceID()), messageContext(data));
        return false;
    }
    if (filterID < 0) return false;
    const auto word = static_cast<size_t>(ZDMFilterWordIndex(filterID));
    // A results array shorter than the status array reads as false there, never out of bounds.
    if (word >= status.size() || word >= results.size()) return false;
    return (status[word] & bitOf(filterID)) && (results[word] & bitOf(filterID));
}

std::shared_ptr<ZDMFilterResult> ZDMAudience::updatedFilterResultWithFilterID(
    int32_t filterID, int32_t audienceID, const ZDMFilterResult* currentFilterResult,
    bool newEvaluationResult, const ZDMAudienceTimestampsCache& audienceTimestampsCache) {
    if (filterID < 0) return nullptr;
    std::vector<uint64_t> status;
    std::vector<uint64_t> results;
    if (currentFilterResult && !currentFilterResult->currentResults().empty()) {
        if (const auto current = decodedResults(currentFilterResult->currentResults())) {
            status = wordsAt(*current, ResultField::kStatus);
            results = wordsAt(*current, ResultField::kResults);
        }
    }
    const auto word = static_cast<size_t>(ZDMFilterWordIndex(filterID));
    // Both arrays grow together so that a word index means the same in each.
    const size_t length = std::max({status.size(), results.size(), word + 1});
    status.resize(length, 0);
    results.resize(length, 0);
    status[word] |= bitOf(filterID);
    if (newEvaluationResult)
        results[word] |= bitOf(filterID);
    else
        results[word] &= ~bitOf(filterID);

    auto data = ZDMPBResultData::initWithMessageInfo(nullptr);
    setWordsAt(*data, ResultField::kStatus, status);
    setWordsAt(*data, ResultField::kResults, results);
    setMessagesAt(*data, ResultField::kDynamicTimestamps,
                  audienceTimestampsCache.dynamicTimestampsForAudienceID(audienceID));
    if (const auto sequence = audienceTimestampsCache.sequenceTimestampsForAudienceID(audienceID))
        setMessagesAt(*data, ResultField::kSequenceTimestamps, *sequence);
    return std::make_shared<ZDMFilterResult>(
        audienceID, encoded(*data), currentFilterResult ? currentFilterResult->previousResults() : Data());
}

// Evaluation -------------------------------------------------------------------------------------

// The monitor reports of one kind of evaluation: the filter query, the result query and the save.
struct ZDMAudience::EvaluationReports {
    int64_t filtersCode;
    const char* filters;
    int64_t resultCode;
    const char* result;
    int64_t saveCode;
    const char* save;
};

namespace {

const ZDMAudience::EvaluationReports kEventReports{
    6000, "Unable to query event filters for event. Event will not be evaluated. Event name, error",
    6001, "Unable to query filter result for audience. Event will not be evaluated. Event name, error",
    6003, "Unable to save updated Audience filter results. Event will not be evaluated. Event name, error"};
const ZDMAudience::EvaluationReports kPropertyReports{
    6004,
    "Unable to query property filters for property. Property will not be evaluated. Property name, error",
    6005,
    "Unable to query filter result for audience. Property will not be evaluated. Property name, error",
    6007,
    "Unable to save updated Audience filter results. User property will not be evaluated. User property "
    "name, "
    "error"};

bool failedFor(const Value& nameForLog, int64_t code, const char* message, const Error& error) {
    ZDMMeasurement::monitor()->logWithLevel(1, code, message, nameForLog, ErrorObject::value(error));
    return false;
}

// What one evaluation decides: the result to store and whether the filter matched just now.
struct Outcome {
    bool result;
    bool matched;
};

}  // namespace

// The loop shared by events and user properties: each filter in database order against the
// audience's latest row, one save of every changed row at the end. `evaluate` answers the new
// result (nullopt leaves the row alone) and whether the match time is recorded.
template <class Filter, class Evaluate>
bool ZDMAudience::evaluateFilters(const std::optional<std::vector<std::shared_ptr<Filter>>>& filters,
                                  const Error& filtersError,
                                  ZDMAudienceTimestampsCache* audienceTimestampsCache, double timestamp,
                                  const Evaluate& evaluate, const EvaluationReports& reports,
                                  const Value& nameForLog) {
    if (!filters && hasError(filtersError))
        return failedFor(nameForLog, reports.filtersCode, reports.filters, filtersError);
    ZDMAudienceTimestampsCache ownCache;
    ZDMAudienceTimestampsCache& cache = audienceTimestampsCache ? *audienceTimestampsCache : ownCache;
    std::map<int32_t, std::shared_ptr<ZDMFilterResult>> updated;
    std::map<int32_t, std::shared_ptr<ZDMFilterResult>> loaded;
    for (const auto& filter : filters.value_or(std::vector<std::shared_ptr<Filter>>())) {
        // A negative filter ID names no bit; stored definitions never hold one, a damaged file might.
        if (!filter || filter->filterID() < 0) continue;
        const int32_t audienceID = filter->audienceID();
        std::shared_ptr<ZDMFilterResult> row;
        if (auto found = updated.find(audienceID); found != updated.end()) {
            row = found->second;
        } else if (auto known = loaded.find(audienceID); known != loaded.end()) {
            row = known->second;
        } else {
            Error error;
            row = database_->filterResultForAudienceID(audienceID, &error);
            if (!row && hasError(error))
                return failedFor(nameForLog, reports.resultCode, reports.result, error);
            loaded[audienceID] = row;
        }
        const bool current = isFilterResult(row.get(), filter->filterID());
        if (!ZDMShouldEvaluateFilter(current, *filter)) continue;
        const auto outcome = evaluate(current, *filter);
        if (!outcome) continue;
        cache.populateCachedTimestamps(row.get(), audienceID);
        if (outcome->matched) cache.addEvaluationTimestamp(timestamp, *filter);
        updated[audienceID] = updatedFilterResultWithFilterID(filter->filterID(), audienceID, row.get(),
                                                              outcome->result, cache);
        loaded.erase(audienceID);
    }
    if (updated.empty()) return true;
    std::vector<std::shared_ptr<ZDMFilterResult>> rows;
    for (const auto& [audienceID, row] : updated) rows.push_back(row);
    Error error;
    if (!database_->updateFilterResults(rows, &error))
        return failedFor(nameForLog, reports.saveCode, reports.save, error);
    return true;
}

bool ZDMAudience::evaluateFiltersForEvent(const ZDMEvent& event, const ZDMEventAggregates* eventAggregates,
                                          ZDMAudienceTimestampsCache* audienceTimestampsCache) {
    return evaluateFiltersForEventName(event.name(), event.parameters(), eventAggregates, event.timestamp(),
                                       audienceTimestampsCache);
}

bool ZDMAudience::evaluateFiltersForEventName(const std::string& eventName, const Dictionary& eventParameters,
                                              const ZDMEventAggregates* eventAggregates,
                                              double eventTimestamp,
                                              ZDMAudienceTimestampsCache* audienceTimestampsCache) {
    Error error;
    const auto filters = database_->eventFiltersForEventName(eventName, &error);
    const auto evaluate = [&](bool current, const ZDMEventFilter& filter) -> std::optional<Outcome> {
        const auto matched = ZDMEvaluateStoredEventFilter(filter, eventParameters, eventAggregates);
        if (!matched) return std::nullopt;
        // An event filter that was true stays true: a later event that does not match takes nothing
        // back.
        return Outcome{*matched || current, *matched};
    };
    return evaluateFilters(filters, error, audienceTimestampsCache, eventTimestamp, evaluate, kEventReports,
                           Value(ZDMEventNameForLog(Value(eventName))));
}

bool ZDMAudience::evaluateFiltersForUserProperty(const ZDMUserAttribute& userProperty,
                                                 ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                                 double evaluationTimestamp) {
    Error error;
    const auto filters = database_->propertyFiltersForPropertyName(userProperty.name(), &error);
    const auto evaluate = [&](bool current, const ZDMPropertyFilter& filter) -> std::optional<Outcome> {
        const auto matched = ZDMEvaluateStoredPropertyFilter(current, filter, userProperty);
        if (!matched) return std::nullopt;
        return Outcome{ZDMShouldApplyPropertyResult(*matched, filter) ? *matched : current, *matched};
    };
    return evaluateFilters(filters, error, audienceTimestampsCache, evaluationTimestamp, evaluate,
                           kPropertyReports, Value(ZDMUserPropertyNameForLog(Value(userProperty.name()))));
}

bool ZDMAudience::evaluateFiltersForNanoUserProperty(const ZDMPBUserAttribute& userProperty,
                                                     ZDMAudienceTimestampsCache* audienceTimestampsCache,
                                                     std::optional<double> evaluationTime) {
    const auto attribute = ZDMUserAttributeFromWireUserAttribute(userProperty);
    if (!attribute) {
        monitor()->logWithLevel(2, 6039, "Could not convert user property from nano format.");
        return false;
    }
    return evaluateFiltersForUserProperty(*attribute, audienceTimestampsCache,
                                          evaluationTime.value_or(attribute->lastSetTimestamp()));
}

// Definitions ------------------------------------------------------------------------------------

namespace {

// Records the first failing check; later checks are skipped once one failed.
class Checks {
  public:
    explicit Checks(Error* error) : error_(error) {}
    bool operator()(bool holds, int64_t code, const char* description) {
        if (failed_) return false;
        if (!holds) {
            failed_ = true;
            ZDMSetError(error_, code, description);
        }
        return holds;
    }
    bool passed() const { return !failed_; }

  private:
    Error* error_;
    bool failed_ = false;
};

bool hasText(const NANOMessageBase& message, int32_t index) {
    return ZDMPBHasField(&message, index) && !textAt(message, index).empty();
}

// Exactly one of number and string filter, each valid when present.
bool checkValueFilter(Checks& check, const ZDMPBFilter& filter, int64_t code, const char* exactlyOne,
                      const char* invalidNumber, const char* invalidString) {
    const auto number = ZDMPBGetMessage<ZDMPBNumberFilter>(&filter, FilterField::kNumber);
    const auto string = ZDMPBGetMessage<ZDMPBStringFilter>(&filter, FilterField::kString);
    return check(static_cast<bool>(number) != static_cast<bool>(string), code, exactlyOne) &&
           check(!number || ZDMIsValidNumberFilter(number.get()), code, invalidNumber) &&
           check(!string || ZDMIsValidStringFilter(string.get()), code, invalidString);
}

bool checkFilterID(Checks& check, const NANOMessageBase& filter, int32_t maxFilters,
                   std::set<int32_t>& filterIDs, int64_t code, const char* missing, const char* outOfRange,
                   const char* duplicate) {
    if (!check(ZDMPBHasField(&filter, 0), code, missing)) return false;
    const int32_t filterID = ZDMPBGetInt32(&filter, 0);
    return check(filterID >= 0 && filterID < maxFilters, code, outOfRange) &&
           check(filterIDs.insert(filterID).second, code, duplicate);
}

bool checkEventFilter(Checks& check, const ZDMPBEventFilter& filter, const ZDMRemoteConfig& limits,
                      std::set<int32_t>& filterIDs) {
    if (!check(hasText(filter, EventFilterField::kName), 10, "Event filter missing event name") ||
        !checkFilterID(check, filter, limits.maxFiltersPerAudience(), filterIDs, 10,
                       "Missing event filter ID", "Event filter ID is out of range",
                       "Duplicate event filter ID"))
        return false;
    if (const auto count = ZDMPBGetMessage<ZDMPBNumberFilter>(&filter, EventFilterField::kCountFilter)) {
        if (!check(!ZDMPBGetBool(count.get(), kNumberFilterMatchAsFloat), 10,
                   "Event filter has float event count filter") ||
            !check(ZDMIsValidNumberFilter(count.get()), 10, "Event filter has invalid event count filter"))
            return false;
    }
    const auto parameters = messagesAt<ZDMPBFilter>(filter, EventFilterField::kFilters);
    if (!check(parameters.size() <= static_cast<size_t>(std::max(limits.maxParametersPerFilter(), 0)), 10,
               "Event filter parameters filters count out of range"))
        return false;
    for (const auto& parameter : parameters) {
        if (!check(hasText(*parameter, FilterField::kParameterName), 10,
                   "Event filter missing parameter name") ||
            !checkValueFilter(
                check, *parameter, 10, "Event filter must have exactly one of number or string filter",
                "Event filter has invalid number filter", "Event filter has invalid string filter"))
            return false;
    }
    return true;
}

bool checkPropertyFilter(Checks& check, const ZDMPBPropertyFilter& filter, const ZDMRemoteConfig& limits,
                         std::set<int32_t>& filterIDs) {
    if (!check(hasText(filter, PropertyFilterField::kName), 11, "Property filter missing property name") ||
        !checkFilterID(check, filter, limits.maxFiltersPerAudience(), filterIDs, 11,
                       "Missing property filter ID", "Property filter ID is out of range",
                       "Duplicate property filter ID"))
        return false;
    const auto value = ZDMPBGetMessage<ZDMPBFilter>(&filter, PropertyFilterField::kFilter);
    // An invalid number filter reports under the "exactly one" text; the texts stand as they are fixed.
    return check(static_cast<bool>(value), 11, "Property filter has no filter") &&
           checkValueFilter(check, *value, 11,
                            "Property filter must have exactly one of number or string filter",
                            "Property filter must have exactly one of number or string filter",
                            "Property filter has invalid string filter");
}

}  // namespace

bool ZDMValidateAudienceDefinition(const ZDMPBAudience& audience, const std::set<int32_t>& seenAudienceIDs,
                                   Error* error) {
    const auto limits = ZDMMeasurement::remoteConfig();
    Checks check(error);
    const int32_t audienceID = ZDMPBGetInt32(&audience, AudienceField::kID);
    const auto eventList =
        ZDMPBGetArray(&audience, AudienceField::kEventFilters, &ZDMPBEventFilter::messageClass());
    const auto propertyList =
        ZDMPBGetArray(&audience, AudienceField::kPropertyFilters, &ZDMPBPropertyFilter::messageClass());
    if (!check(ZDMPBHasField(&audience, AudienceField::kID), 9, "Missing audience ID") ||
        !check(audienceID >= 0, 9, "Audience ID is negative") ||
        !check(!seenAudienceIDs.contains(audienceID), 9, "Duplicate audience ID") ||
        !check(eventList || propertyList, 9, "Audience missing filters arrays"))
        return false;
    const auto eventFilters = messagesAt<ZDMPBEventFilter>(audience, AudienceField::kEventFilters);
    const auto propertyFilters = messagesAt<ZDMPBPropertyFilter>(audience, AudienceField::kPropertyFilters);
    const size_t count = eventFilters.size() + propertyFilters.size();
    if (!check(count >= 1 && count <= static_cast<size_t>(std::max(limits->maxFiltersPerAudience(), 0)), 9,
               "Audience filter count out of range"))
        return false;
    // One set for both kinds: a filter ID names one bit of the audience's result.
    std::set<int32_t> filterIDs;
    for (const auto& filter : eventFilters)
        if (!checkEventFilter(check, *filter, *limits, filterIDs)) return false;
    for (const auto& filter : propertyFilters)
        if (!checkPropertyFilter(check, *filter, *limits, filterIDs)) return false;
    return check.passed();
}

namespace {

// The stored rows of one valid audience, names turned into the internal ones the events and user
// properties are stored under.
void appendFilterRows(const ZDMPBAudience& audience, std::vector<std::shared_ptr<ZDMEventFilter>>& eventRows,
                      std::vector<std::shared_ptr<ZDMPropertyFilter>>& propertyRows) {
    const int32_t audienceID = ZDMPBGetInt32(&audience, AudienceField::kID);
    for (const auto& filter : messagesAt<ZDMPBEventFilter>(audience, AudienceField::kEventFilters)) {
        const std::string name =
            internalName(textAt(*filter, EventFilterField::kName), ZDMPublicToInternalEventNameMap());
        ZDMPBSetString(filter.get(), EventFilterField::kName, name);
        auto parameters = messagesAt<ZDMPBFilter>(*filter, EventFilterField::kFilters);
        bool renamed = false;
        for (const auto& parameter : parameters) {
            const std::string publicName = textAt(*parameter, FilterField::kParameterName);
            const std::string parameterName = internalName(publicName, ZDMPublicToInternalParameterNameMap());
            if (parameterName == publicName) continue;
            ZDMPBSetString(parameter.get(), FilterField::kParameterName, parameterName);
            renamed = true;
        }
        if (renamed) setMessagesAt(*filter, EventFilterField::kFilters, parameters);
        eventRows.push_back(std::make_shared<ZDMEventFilter>(
            audienceID, ZDMPBGetInt32(filter.get(), EventFilterField::kID), name, encoded(*filter),
            ZDMPBGetBool(filter.get(), EventFilterField::kSessionScoped),
            ZDMPBGetBool(filter.get(), EventFilterField::kDynamic),
            ZDMPBGetBool(filter.get(), EventFilterField::kSequence)));
    }
    for (const auto& filter : messagesAt<ZDMPBPropertyFilter>(audience, AudienceField::kPropertyFilters)) {
        const std::string name = internalName(textAt(*filter, PropertyFilterField::kName),
                                              ZDMPublicToInternalUserPropertyNameMap());
        ZDMPBSetString(filter.get(), PropertyFilterField::kName, name);
        propertyRows.push_back(std::make_shared<ZDMPropertyFilter>(
            audienceID, ZDMPBGetInt32(filter.get(), PropertyFilterField::kID), name, encoded(*filter),
            ZDMPBGetBool(filter.get(), PropertyFilterField::kSessionScoped),
            ZDMPBGetBool(filter.get(), PropertyFilterField::kDynamic),
            ZDMPBGetBool(filter.get(), PropertyFilterField::kSequence)));
    }
}

}  // namespace

bool ZDMAudience::updateAudiences(const std::vector<std::shared_ptr<ZDMPBAudience>>& audiences) {
    const auto limits = ZDMMeasurement::remoteConfig();
    if (audiences.size() > static_cast<size_t>(std::max(limits->maxAudienceCount(), 0))) {
        monitor()->logWithLevel(2, 6008,
                                "Configuration contains too many audiences. Audiences will not be saved. "
                                "Audience count",
                                Value(audiences.size()));
        return true;
    }
    std::set<int32_t> audienceIDs;
    std::vector<std::shared_ptr<ZDMEventFilter>> eventRows;
    std::vector<std::shared_ptr<ZDMPropertyFilter>> propertyRows;
    for (const auto& audience : audiences) {
        Error error;
        if (!audience) {
            ZDMSetError(&error, 9, "Missing audience ID");
        } else if (ZDMValidateAudienceDefinition(*audience, audienceIDs, &error)) {
            audienceIDs.insert(ZDMPBGetInt32(audience.get(), AudienceField::kID));
            appendFilterRows(*audience, eventRows, propertyRows);
            continue;
        }
        monitor()->logWithLevel(2, 6009,
                                "Audience definition is invalid. Audience will not be saved. Audience, error",
                                messageContext(audience), ErrorObject::value(error));
    }
    if (!maybeDeleteStaleFilterResults(audienceIDs)) return false;

    Error error;
    if (!database_->deleteAllEventFilters(&error))
        return failed(1, 6010,
                      "Unable to delete existing Audience event filters. Audiences will not be saved. Error",
                      error);
    if (!database_->deleteAllPropertyFilters(&error))
        return failed(
            1, 6011,
            "Unable to delete existing Audience user property filters. Audiences will not be saved. "
            "Error",
            error);
    if (!eventRows.empty() && !database_->updateEventFilters(eventRows, &error))
        return failed(1, 6012, "Unable to save Audience event filters. Audiences will not be saved. Error",
                      error);
    if (!propertyRows.empty() && !database_->updatePropertyFilters(propertyRows, &error))
        return failed(1, 6013,
                      "Unable to save Audience user property filters. Audiences will not be saved. Error",
                      error);
    return true;
}

bool ZDMAudience::maybeDeleteStaleFilterResults(const std::set<int32_t>& newAudienceIDs) {
    Error error;
    const auto rows =
        answerOrFailure(database_->allFilterResults(&error), error, 6015,
                        "Unable to query Audience filter results. Audiences will not be saved. Error");
    if (!rows) return false;
    const auto limit = ZDMMeasurement::remoteConfig()->maxFilterResultCount();
    const size_t count = rows->size();
    if (count <= static_cast<size_t>(std::max(limit, 0))) return true;
    monitor()->logWithLevel(
        3, 6016,
        "Too many Audience filter results. Deleting filter results for deleted Audiences. "
        "Filter result count, max filter result count",
        Value(count), Value(limit));
    const auto storedIDs =
        answerOrFailure(database_->allAudienceIDs(&error), error, 6017,
                        "Unable to query current Audience IDs. Audiences will not be saved. Error");
    if (!storedIDs) return false;
    auto stale = *rows;
    for (int32_t audienceID : *storedIDs) stale.erase(audienceID);
    for (int32_t audienceID : newAudienceIDs) stale.erase(audienceID);
    // Every row may still be wanted; the database refuses an empty delete, which would otherwise
    // refuse the whole configuration.
    if (stale.empty()) return true;
    std::vector<std::shared_ptr<ZDMFilterResult>> doomed;
    for (const auto& [audienceID, row] : stale) doomed.push_back(row);
    if (!database_->deleteFilterResults(doomed, &error))
        return failed(1, 6018,
                      "Unable to delete stale Audience filter results. Audiences will not be saved. Error",
                      error);
    return true;
}

// Bundling and sessions --------------------------------------------------------------------------

namespace {

// Every sequence list of two or more times is cut to its last time, which is all the timestamps
// cache reloads from a row anyway.
void trimSequenceTimestamps(ZDMPBResultData& data) {
    auto entries = messagesAt<ZDMPBSequenceFilterResultTimestamp>(data, ResultField::kSequenceTimestamps);
    bool trimmed = false;
    for (const auto& entry : entries) {
        auto times = ZDMPBGetArray(entry.get(), TimestampField::kTimes).value_or(Value::Array());
        if (times.size() < 2) continue;
        ZDMPBSetArray(entry.get(), TimestampField::kTimes, Value::Array{times.back()});
        trimmed = true;
    }
    if (trimmed) setMessagesAt(data, ResultField::kSequenceTimestamps, entries);
}

template <class Message>
void dropTimestampsOf(ZDMPBResultData& data, int32_t index, const std::set<int32_t>& filterIDs) {
    auto entries = messagesAt<Message>(data, index);
    std::erase_if(entries, [&](const auto& entry) {
        return filterIDs.contains(ZDMPBGetInt32(entry.get(), TimestampField::kFilterID));
    });
    setMessagesAt(data, index, entries);
}

}  // namespace

bool ZDMAudience::resultsForBundling(std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>>* results) {
    std::vector<std::shared_ptr<ZDMPBAudienceLeafFilterResult>> leaves;
    if (results) results->clear();
    Error error;
    const auto rows =
        answerOrFailure(database_->allFilterResults(&error), error, 6019,
                        "Unable to query Audience filter results. Audience results will not be bundled. "
                        "Error");
    if (!rows) return false;
    std::vector<std::shared_ptr<ZDMFilterResult>> newRows;
    for (const auto& [audienceID, row] : *rows) {
        auto current = row ? decodedResults(row->currentResults()) : nullptr;
        if (!current) {
            monitor()->logWithLevel(
                2, 6020, "Current result data is nil. Audience result will not be bundled. Audience ID",
                Value(audienceID));
            continue;
        }
        if (!ZDMResultStatusHasAnyBit(wordsAt(*current, ResultField::kStatus))) {
            monitor()->logWithLevel(
                2, 6021, "Current result status is 0. Audience result will not be bundled. Audience ID",
                Value(audienceID));
            continue;
        }
        auto leaf = ZDMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
        ZDMPBSetInt32(leaf.get(), LeafField::kAudienceID, audienceID);
        if (!row->previousResults().empty()) {
            ZDMPBSetBool(leaf.get(), LeafField::kNewAudience, false);
            const auto previous = decodedResults(row->previousResults());
            if (previous && encoded(*previous) == encoded(*current)) {
                // Nothing changed since the last bundle: the server needs no previous copy.
                trimSequenceTimestamps(*current);
            } else if (previous) {
                ZDMPBSetMessage(leaf.get(), LeafField::kPrevious, previous.get());
            }
        } else {
            ZDMPBSetBool(leaf.get(), LeafField::kNewAudience, true);
            ZDMPBClearField(leaf.get(), LeafField::kPrevious);
        }
        ZDMPBSetMessage(leaf.get(), LeafField::kCurrent, current.get());
        leaves.push_back(std::move(leaf));
        newRows.push_back(
            std::make_shared<ZDMFilterResult>(audienceID, encoded(*current), row->currentResults()));
    }
    // With no result to move on, there is nothing to write (the database refuses an empty update).
    if (!newRows.empty() && !database_->updateFilterResults(newRows, &error))
        return failed(1, 6022,
                      "Unable to save updated Audience filter results. Audience results will not be "
                      "bundled. Error",
                      error);
    if (results) *results = std::move(leaves);
    return true;
}

bool ZDMAudience::clearEvaluationResultsForSessionScopedFilters() {
    Error error;
    const auto sessionScoped =
        answerOrFailure(database_->allSessionScopedFilters(&error), error, 6040,
                        "Unable to query all session scoped filters. Session scoped results will not be "
                        "cleared. Error");
    if (!sessionScoped) return false;
    const auto rows =
        answerOrFailure(database_->allFilterResults(&error), error, 6041,
                        "Unable to query all filter results. Session scoped results will not be cleared. "
                        "Error");
    if (!rows) return false;
    std::vector<std::shared_ptr<ZDMFilterResult>> kept;
    std::vector<std::shared_ptr<ZDMFilterResult>> emptied;
    for (const auto& [audienceID, filterIDList] : *sessionScoped) {
        const auto row = rows->find(audienceID);
        if (row == rows->end() || !row->second) continue;
        // A row that does not decode is left as it is rather than lost.
        auto current = decodedResults(row->second->currentResults());
        if (!current) continue;
        auto status = wordsAt(*current, ResultField::kStatus);
        auto results = wordsAt(*current, ResultField::kResults);
        const std::set<int32_t> filterIDs(filterIDList.begin(), filterIDList.end());
        for (int32_t filterID : filterIDs) {
            if (filterID < 0) continue;
            const auto word = static_cast<size_t>(ZDMFilterWordIndex(filterID));
            if (word < status.size()) status[word] &= ~bitOf(filterID);
            if (word < results.size()) results[word] &= ~bitOf(filterID);
        }
        if (!ZDMResultStatusHasAnyBit(status)) {
            emptied.push_back(row->second);
            continue;
        }
        setWordsAt(*current, ResultField::kStatus, status);
        setWordsAt(*current, ResultField::kResults, results);
        dropTimestampsOf<ZDMPBDynamicFilterResultTimestamp>(*current, ResultField::kDynamicTimestamps,
                                                            filterIDs);
        dropTimestampsOf<ZDMPBSequenceFilterResultTimestamp>(*current, ResultField::kSequenceTimestamps,
                                                             filterIDs);
        kept.push_back(
            std::make_shared<ZDMFilterResult>(audienceID, encoded(*current), row->second->currentResults()));
    }
    if (!emptied.empty() && !database_->deleteFilterResults(emptied, &error))
        return failed(1, 6042,
                      "Unable to delete filter results. Session scoped results will not be cleared. Error",
                      error);
    if (!kept.empty() && !database_->updateFilterResults(kept, &error))
        return failed(2, 6043,
                      "Unable to update filter results. Session scoped results will not be cleared. Error",
                      error);
    return true;
}
