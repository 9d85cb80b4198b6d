// The stored measurement configuration: two columns of the bookkeeping row.
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "platform/dispatch/Clock.h"

namespace {
const std::string kRowIDColumn = "rowid";
const Value kAppMetadataRowID = Value("1");
constexpr int32_t kAppIDIndex = 1;
}  // namespace

bool ZDMDatabase::updateRemoteConfig(const ZDMPBMeasurementConfig* config, Error* error) {
    const auto encoding = config ? config->protoBuffer() : std::nullopt;
    if (!encoding || encoding->empty()) {
        ZDMSetError(error, 1, "Invalid measurement config data");
        return false;
    }
    const auto appID = ZDMPBGetString(config, kAppIDIndex);
    if (!appID || appID->empty()) {
        ZDMSetError(error, 1, "Missing Zizoda app ID in measurement configuration");
        return false;
    }
    const Record row{{"remote_config_data", Value(*encoding)},
                     {"remote_config_timestamp", Value(Clock::current().now())}};
    return updateDataType(row, kAppMetadataTable, kRowIDColumn, kAppMetadataRowID, error);
}

bool ZDMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, Error* error) {
    return updateDataType({{"remote_config_timestamp", Value(timestamp)}}, kAppMetadataTable, kRowIDColumn,
                          kAppMetadataRowID, error);
}

std::shared_ptr<ZDMPBMeasurementConfig> ZDMDatabase::queryMeasurementConfigWithError(Error* error) {
    if (!sqliteStore_) return nullptr;
    const auto rows =
        sqliteStore_->recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
    if (!rows || rows->empty()) return nullptr;
    const Value* column = rows->front().find("remote_config_data");
    const Data* bytes = column ? column->asData() : nullptr;
    if (!bytes || bytes->empty()) return nullptr;
    auto config = ZDMPBMeasurementConfig::initWithBuffer(*bytes);
    if (!config) ZDMSetError(error, 2, "Remote config data is corrupted");
    return config;
}

std::optional<double> ZDMDatabase::lastRemoteConfigUpdateTimestamp(Error* error) {
    if (!sqliteStore_) return std::nullopt;
    const auto number =
        sqliteStore_->numberForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
    if (!number) return std::nullopt;
    return number->asReal();
}
