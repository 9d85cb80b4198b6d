// The audience filter and result, purchase, subscription and complex-event operations of the
// measurement database.
#include <set>

#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMEventFilter.h"
#include "measurement/foundation/ZDMFilterResult.h"
#include "measurement/foundation/ZDMPropertyFilter.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

namespace {

using Record = ZDMDatabase::Record;

constexpr const char* kEventFiltersTable = "event_filters";
constexpr const char* kPropertyFiltersTable = "property_filters";
constexpr const char* kFilterResultsTable = "audience_filter_values";
constexpr const char* kMainEventTable = "main_event_params";
constexpr int64_t kKeptPurchasesAndSubscriptions = 1000;

// Where each kind of filter message keeps its flags, by field index.
struct FlagIndexes {
    int32_t sessionScoped;
    int32_t dynamic;
    int32_t sequence;
};
constexpr FlagIndexes kEventFilterFlags{7, 5, 6};
constexpr FlagIndexes kPropertyFilterFlags{5, 3, 4};

// The texts of one kind of filter.
struct FilterTexts {
    const char* table;
    const char* nameColumn;
    const char* emptyName;
    const char* emptyRow;
    const char* emptyUpdate;
    const char* nullFilter;
    const char* filterWithEmptyName;
    const char* filterWithEmptyData;
    const char* emptyDelete;
    const char* unknownDelete;
};

constexpr FilterTexts kEventFilterTexts{
    kEventFiltersTable,
    "event_name",
    "Received empty event name for getting event filters",
    "Received empty dictionary for getting event filter",
    "Received empty event filters to update",
    "Received empty event filter for getting dictionary representation",
    "Received event filter with empty event name for getting dictionary representation",
    "Received event filter with empty data for getting dictionary representation",
    "Received empty event filters to delete",
    "Received unknown type to delete event filter"};

constexpr FilterTexts kPropertyFilterTexts{
    kPropertyFiltersTable,
    "property_name",
    "Received empty property name for getting property filters",
    "Received empty dictionary for getting property filter",
    "Received empty property filters to update",
    "Received empty property filter for getting dictionary representation",
    "Received property filter with empty property name for getting dictionary representation",
    "Received property filter with empty data for getting dictionary representation",
    "Received empty property filters to delete",
    "Received unknown type to delete property filter"};

template <class Filter>
struct FilterKind;
template <>
struct FilterKind<ZDMEventFilter> {
    using Message = ZDMPBEventFilter;
    static constexpr const FilterTexts& texts = kEventFilterTexts;
    static constexpr const FlagIndexes& flags = kEventFilterFlags;
    static const std::string& name(const ZDMEventFilter& filter) { return filter.eventName(); }
};
template <>
struct FilterKind<ZDMPropertyFilter> {
    using Message = ZDMPBPropertyFilter;
    static constexpr const FilterTexts& texts = kPropertyFilterTexts;
    static constexpr const FlagIndexes& flags = kPropertyFilterFlags;
    static const std::string& name(const ZDMPropertyFilter& filter) { return filter.propertyName(); }
};

// The session_scoped column serves queries only; the record's flags come from the message, all NO
// when it does not decode.
template <class Filter>
std::optional<std::shared_ptr<Filter>> filterFromRow(const Record& row, Error*) {
    using Kind = FilterKind<Filter>;
    const Data* stored = row["data"].asData();
    const Data data = stored ? *stored : Data();
    const auto message = Kind::Message::initWithBuffer(data);
    const auto flag = [&message](int32_t index) { return message && ZDMPBGetBool(message.get(), index); };
    return std::make_shared<Filter>(
        static_cast<int32_t>(row["audience_id"].integerOr(0)),
        static_cast<int32_t>(row["filter_id"].integerOr(0)), row[Kind::texts.nameColumn].stringOr(""), data,
        flag(Kind::flags.sessionScoped), flag(Kind::flags.dynamic), flag(Kind::flags.sequence));
}

template <class Filter>
std::optional<Record> filterRow(const Filter* filter, Error* error) {
    using Kind = FilterKind<Filter>;
    if (!ZDMCheckObjectOrSetError(filter, error, 3, Kind::texts.nullFilter) ||
        !ZDMCheckLengthOrSetError(Kind::name(*filter).size(), error, 3, Kind::texts.filterWithEmptyName) ||
        !ZDMCheckLengthOrSetError(filter->data().size(), error, 3, Kind::texts.filterWithEmptyData))
        return std::nullopt;
    return Record{{"audience_id", Value(filter->audienceID())},
                  {"filter_id", Value(filter->filterID())},
                  {Kind::texts.nameColumn, Value(Kind::name(*filter))},
                  {"data", Value(filter->data())},
                  {"session_scoped", Value(filter->isSessionScoped())}};
}

// "(audience_id=1 AND filter_id=2) OR …"; none for an empty list or a missing filter.
template <class Filter>
std::optional<std::string> filterKeyCondition(const std::vector<std::shared_ptr<Filter>>& filters,
                                              Error* error) {
    using Kind = FilterKind<Filter>;
    if (!ZDMCheckLengthOrSetError(filters.size(), error, 1, Kind::texts.emptyDelete)) return std::nullopt;
    std::string condition;
    for (const auto& filter : filters) {
        if (!ZDMCheckObjectOrSetError(filter, error, 1, Kind::texts.unknownDelete)) return std::nullopt;
        condition += std::string(condition.empty() ? "" : " OR ") +
                     "(audience_id=" + std::to_string(filter->audienceID()) +
                     " AND filter_id=" + std::to_string(filter->filterID()) + ")";
    }
    return condition;
}

std::optional<std::shared_ptr<ZDMFilterResult>> filterResultFromRow(const Record& row, Error*) {
    const Data* current = row["current_results"].asData();
    const Data* previous = row["previous_results"].asData();
    return std::make_shared<ZDMFilterResult>(static_cast<int32_t>(row["audience_id"].integerOr(0)),
                                             current ? *current : Data(), previous ? *previous : Data());
}

}  // namespace

// Audience filters.

std::optional<std::vector<int32_t>> ZDMDatabase::allAudienceIDs(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {}, error);
    if (!rows) return std::nullopt;
    std::vector<int32_t> audienceIDs;
    for (const Record& row : *rows) {
        if (!ZDMCheckConditionOrSetError(row["audience_id"].isNumber(), error, 1,
                                         "Received nil audience ID for querying all audience IDs"))
            return std::nullopt;
        audienceIDs.push_back(static_cast<int32_t>(row["audience_id"].integerOr(0)));
    }
    return audienceIDs;
}

template <class Filter>
static std::optional<std::vector<std::shared_ptr<Filter>>> filtersForName(ZDMDatabase& database,
                                                                          const std::string& name,
                                                                          Error* error) {
    using Kind = FilterKind<Filter>;
    if (!ZDMCheckLengthOrSetError(name.size(), error, 1, Kind::texts.emptyName)) return std::nullopt;
    return database.dataTypesFromTableWithName<std::shared_ptr<Filter>>(
        Kind::texts.table, Kind::texts.nameColumn, Value(name), error, filterFromRow<Filter>);
}

std::optional<std::vector<std::shared_ptr<ZDMEventFilter>>> ZDMDatabase::eventFiltersForEventName(
    const std::string& eventName, Error* error) {
    return filtersForName<ZDMEventFilter>(*this, eventName, error);
}

std::optional<std::vector<std::shared_ptr<ZDMPropertyFilter>>> ZDMDatabase::propertyFiltersForPropertyName(
    const std::string& propertyName, Error* error) {
    return filtersForName<ZDMPropertyFilter>(*this, propertyName, error);
}

template <class Filter>
static bool updateFilters(ZDMSqliteStore* store, const std::vector<std::shared_ptr<Filter>>& filters,
                          Error* error) {
    using Kind = FilterKind<Filter>;
    if (!ZDMCheckLengthOrSetError(filters.size(), error, 1, Kind::texts.emptyUpdate) || !store) return false;
    for (const auto& filter : filters) {
        const auto row = filterRow(filter.get(), error);
        if (!row || !store->upsertRecord(*row, Kind::texts.table, error)) return false;
    }
    return true;
}

bool ZDMDatabase::updateEventFilters(const std::vector<std::shared_ptr<ZDMEventFilter>>& eventFilters,
                                     Error* error) {
    return updateFilters(sqliteStore_.get(), eventFilters, error);
}

bool ZDMDatabase::updatePropertyFilters(
    const std::vector<std::shared_ptr<ZDMPropertyFilter>>& propertyFilters, Error* error) {
    return updateFilters(sqliteStore_.get(), propertyFilters, error);
}

bool ZDMDatabase::deleteEventFilters(const std::vector<std::shared_ptr<ZDMEventFilter>>& eventFilters,
                                     Error* error) {
    const auto condition = filterKeyCondition(eventFilters, error);
    return condition && deleteRecords(kEventFiltersTable, *condition, {}, error);
}

bool ZDMDatabase::deletePropertyFilters(
    const std::vector<std::shared_ptr<ZDMPropertyFilter>>& propertyFilters, Error* error) {
    const auto condition = filterKeyCondition(propertyFilters, error);
    return condition && deleteRecords(kPropertyFiltersTable, *condition, {}, error);
}

bool ZDMDatabase::deleteAllEventFilters(Error* error) {
    return sqliteStore_ && sqliteStore_->deleteAllRecordsFromTableWithName(kEventFiltersTable, error);
}

bool ZDMDatabase::deleteAllPropertyFilters(Error* error) {
    return sqliteStore_ && sqliteStore_->deleteAllRecordsFromTableWithName(kPropertyFiltersTable, error);
}

std::optional<std::map<int32_t, std::vector<int32_t>>> ZDMDatabase::allSessionScopedFilters(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT audience_id, "
        "filter_id FROM property_filters WHERE session_scoped = 1",
        {}, error);
    if (!rows) return std::nullopt;
    std::map<int32_t, std::vector<int32_t>> filtersByAudience;
    for (const Record& row : *rows)
        filtersByAudience[static_cast<int32_t>(row["audience_id"].integerOr(0))].push_back(
            static_cast<int32_t>(row["filter_id"].integerOr(0)));
    return filtersByAudience;
}

// Audience results.

std::optional<std::map<int32_t, std::shared_ptr<ZDMFilterResult>>> ZDMDatabase::allFilterResults(
    Error* error) {
    auto results = allDataTypesFromTableWithName<std::shared_ptr<ZDMFilterResult>>(
        kFilterResultsTable, -1, error, filterResultFromRow);
    if (!results) return std::nullopt;
    std::map<int32_t, std::shared_ptr<ZDMFilterResult>> byAudience;
    for (auto& result : *results) byAudience[result->audienceID()] = std::move(result);
    return byAudience;
}

std::shared_ptr<ZDMFilterResult> ZDMDatabase::filterResultForAudienceID(int32_t audienceID, Error* error) {
    auto records = dataTypesFromTableWithName<std::shared_ptr<ZDMFilterResult>>(
        kFilterResultsTable, "audience_id", Value(audienceID), error, filterResultFromRow);
    return records && !records->empty() ? records->front() : nullptr;
}

bool ZDMDatabase::updateFilterResults(const std::vector<std::shared_ptr<ZDMFilterResult>>& filterResults,
                                      Error* error) {
    if (!ZDMCheckLengthOrSetError(filterResults.size(), error, 1,
                                  "Received empty filter results to update") ||
        !sqliteStore_)
        return false;
    for (const auto& result : filterResults) {
        if (!ZDMCheckObjectOrSetError(result, error, 3,
                                      "Received empty filter result for getting dictionary representation") ||
            !ZDMCheckLengthOrSetError(
                result->currentResults().size(), error, 3,
                "Received filter result with empty data for getting dictionary representation"))
            return false;
        const Record row{{"audience_id", Value(result->audienceID())},
                         {"current_results", Value(result->currentResults())},
                         {"previous_results",
                          result->previousResults().empty() ? Value() : Value(result->previousResults())}};
        if (!sqliteStore_->upsertRecord(row, kFilterResultsTable, error)) return false;
    }
    return true;
}

bool ZDMDatabase::deleteFilterResults(const std::vector<std::shared_ptr<ZDMFilterResult>>& filterResults,
                                      Error* error) {
    if (!ZDMCheckLengthOrSetError(filterResults.size(), error, 1, "Received empty filter results to delete"))
        return false;
    std::set<int32_t> audienceIDs;
    for (const auto& result : filterResults) {
        if (!ZDMCheckObjectOrSetError(result, error, 1, "Received unknown type to delete filter result"))
            return false;
        audienceIDs.insert(result->audienceID());
    }
    std::string list;
    for (int32_t audienceID : audienceIDs) list += (list.empty() ? "" : ",") + std::to_string(audienceID);
    return deleteRecords(kFilterResultsTable, "audience_id IN (" + list + ")", {}, error);
}

// Purchases and subscriptions.

std::optional<bool> ZDMDatabase::insertIfNotDuplicate(const std::string& table, const std::string& column,
                                                      const std::string& text, Error* error) {
    if (text.empty()) return false;
    const auto exists = booleanForQuery(
        "SELECT EXISTS (SELECT 1 FROM " + table + " WHERE " + column + " = ? LIMIT 1)", {Value(text)}, error);
    if (!exists) return std::nullopt;
    if (*exists) return false;
    if (!sqliteStore_->upsertRecord(Record{{column, Value(text)}}, table, error)) return std::nullopt;
    return true;
}

std::optional<bool> ZDMDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         Error* error) {
    const auto inserted = insertIfNotDuplicate("purchase_transactions", "fingerprint", fingerprint, error);
    if (!inserted || !*inserted) return inserted;
    if (!deleteRecords(
            "purchase_transactions",
            "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
            {Value(kKeptPurchasesAndSubscriptions)}, error))
        return std::nullopt;
    return true;
}

std::optional<bool> ZDMDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    Error* error) {
    return insertIfNotDuplicate("subscriptions", "subscription_id", subscriptionID, error);
}

std::optional<int64_t> ZDMDatabase::deleteSubscriptionsOverLimit(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    return sqliteStore_->deleteRecordsFromTableWithName(
        "subscriptions", "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {Value(kKeptPurchasesAndSubscriptions)}, error);
}

// Complex events.

std::optional<std::pair<std::shared_ptr<ZDMEvent>, int64_t>>
ZDMDatabase::mainEventAndChildCountPairWithEventID(int64_t eventID, Error* error) {
    if (!sqliteStore_) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        std::string("SELECT * FROM ") + kMainEventTable + " WHERE event_id=? LIMIT 1", {Value(eventID)},
        error);
    if (!rows || rows->empty()) return std::nullopt;
    const Record& row = rows->front();
    if (!ZDMCheckObjectOrSetError(row["main_event"], error, 3, "Main event blob is nil in database"))
        return std::nullopt;
    auto event = eventFromStoredObject(row["main_event"], error);
    if (!event) return std::nullopt;
    const auto children = row["children_to_process"].asInteger();
    if (!ZDMCheckObjectOrSetError(children, error, 3,
                                  "Complex event does not have children count in database"))
        return std::nullopt;
    return std::make_pair(std::move(event), *children);
}

bool ZDMDatabase::updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                                     const ZDMEvent* mainEvent,
                                                                     Error* error) {
    if (!ZDMCheckObjectOrSetError(mainEvent, error, 1, "Received nil main event")) return false;
    auto encoding = mainEvent->protoEvent()->protoBuffer();
    if (!ZDMCheckConditionOrSetError(encoding && !encoding->empty(), error, 1,
                                     "Cannot create the main event blob") ||
        !sqliteStore_)
        return false;
    const Record row{{"main_event", Value(std::move(*encoding))},
                     {"event_id", Value(eventID)},
                     {"children_to_process", Value(childEventCount)}};
    return sqliteStore_->upsertRecord(row, kMainEventTable, error);
}

bool ZDMDatabase::deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, Error* error) {
    return deleteRecords(kMainEventTable, "event_id=?", {Value(eventID)}, error);
}
