#include "DudIzizoz/Internals/Channel/DIZDidOzodozudaChannelDelegate.h"

#include <regex>

#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Ingestion/DIZDidOzodozudaIngestion.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

namespace {
constexpr const char* kLogValidationFailed = "Log validation failed.";
// The expression admits no name longer than this, so longer ones never reach the matcher.
constexpr size_t kMaxLogNameLength = 100;

const DIZChannelUnitProtocol* asUnit(const DIZChannelProtocol& channel) {
    return dynamic_cast<const DIZChannelUnitProtocol*>(&channel);
}

std::string groupIdOf(const DIZChannelUnitProtocol& unit) {
    auto configuration = unit.configuration();
    return configuration ? configuration->groupId() : std::string();
}
}  // namespace

DIZDidOzodozudaChannelDelegate::DIZDidOzodozudaChannelDelegate(
    std::shared_ptr<DIZHttpClientProtocol> httpClient, UUID installId, std::optional<std::string> baseUrl)
    : baseUrl_(baseUrl ? *baseUrl : kDIZDefaultDidOzodozudaBaseUrl), installId_(installId) {
    didOzodozudaIngestion_ = DIZDidOzodozudaIngestion::make(std::move(httpClient), baseUrl_);
}

DIZDidOzodozudaChannelDelegate::~DIZDidOzodozudaChannelDelegate() = default;

void DIZDidOzodozudaChannelDelegate::setLogUrl(const std::string& logUrl) {
    didOzodozudaIngestion_->setBaseURL(logUrl);
}

bool DIZDidOzodozudaChannelDelegate::isDidOzodozudaGroup(const std::string& groupId) {
    return groupId.ends_with(kDIZDidOzodozudaPostFix);
}

bool DIZDidOzodozudaChannelDelegate::shouldSendLogToDidOzodozuda(const DIZLog& log) {
    auto tokens = log.transmissionTargetTokens();
    return tokens && !tokens->empty() && !dynamic_cast<const DIZCoreSchemaLog*>(&log);
}

bool DIZDidOzodozudaChannelDelegate::validateLog(const DIZCoreSchemaLog& log) {
    return validateLogName(log.name());
}

bool DIZDidOzodozudaChannelDelegate::validateLogName(const std::optional<std::string>& name) {
    if (!name || name->empty()) {
        DIZLogError(kDIZLogTag, "%@ Name must not be nil or empty.", kLogValidationFailed);
        return false;
    }
    static const std::regex expression(kDIZLogNameRegex);
    if (name->size() > kMaxLogNameLength || !std::regex_search(*name, expression)) {
        DIZLogError(kDIZLogTag, "%@ Name must match '%@' but was '%@'", kLogValidationFailed,
                    kDIZLogNameRegex, *name);
        return false;
    }
    return true;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZDidOzodozudaChannelDelegate::twinForGroupId(
    const std::string& groupId) const {
    std::lock_guard guard(channelsLock_);
    auto it = didOzodozudaChannels_.find(groupId);
    return it == didOzodozudaChannels_.end() ? nullptr : it->second;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZDidOzodozudaChannelDelegate::twinOf(
    const DIZChannelProtocol& channel) const {
    const auto* unit = asUnit(channel);
    return unit ? twinForGroupId(groupIdOf(*unit)) : nullptr;
}

void DIZDidOzodozudaChannelDelegate::channelGroupDidAddChannelUnit(
    DIZChannelGroupProtocol& group, const std::shared_ptr<DIZChannelUnitProtocol>& unit) {
    if (!unit) return;
    auto configuration = unit->configuration();
    if (!configuration || isDidOzodozudaGroup(configuration->groupId())) return;
    auto twinConfiguration = std::make_shared<DIZChannelUnitConfiguration>(
        configuration->groupId() + kDIZDidOzodozudaPostFix, configuration->flushInterval());
    // Not under the lock: adding the twin announces it to this delegate again.
    auto twin = group.addChannelUnitWithConfiguration(twinConfiguration, didOzodozudaIngestion_);
    std::lock_guard guard(channelsLock_);
    didOzodozudaChannels_[configuration->groupId()] = twin;
}

void DIZDidOzodozudaChannelDelegate::channelPrepareLog(DIZChannelProtocol& channel,
                                                       const std::shared_ptr<DIZLog>& log) {
    auto csLog = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log);
    if (!csLog) return;
    // Numbered only where it is sent: a log enqueued on another unit is prepared again on its
    // twin, and numbering it there too would leave a gap in its key's sequence.
    const auto* unit = asUnit(channel);
    if (!unit || !isDidOzodozudaGroup(groupIdOf(*unit))) return;
    // A log without a key is numbered with the other keyless ones rather than refused.
    const std::string iKey = csLog->iKey().value_or("");
    std::string epoch;
    uint64_t seq = 0;
    {
        std::lock_guard guard(epochsLock_);
        auto it = epochsAndSeqsByIKey_.find(iKey);
        if (it == epochsAndSeqsByIKey_.end())
            it = epochsAndSeqsByIKey_.emplace(iKey, DIZCSEpochAndSeq(UUID().uuidString())).first;
        seq = ++it->second.seq;
        epoch = it->second.epoch;
    }
    auto sdkExt = csLog->ext() ? csLog->ext()->sdkExt() : nullptr;
    if (!sdkExt) return;
    sdkExt->setEpoch(epoch);
    sdkExt->setSeq(static_cast<int64_t>(seq));
    sdkExt->setInstallId(installId_);
}

void DIZDidOzodozudaChannelDelegate::channelDidPrepareLog(DIZChannelProtocol& channel,
                                                          const std::shared_ptr<DIZLog>& log,
                                                          const std::string&, uint64_t flags) {
    const auto* unit = asUnit(channel);
    if (!unit || !log) return;
    const bool onTwin = isDidOzodozudaGroup(groupIdOf(*unit));
    if (std::dynamic_pointer_cast<DIZCoreSchemaLog>(log) && !onTwin) {
        if (auto twin = twinOf(channel)) twin->enqueueItem(log, flags);
        return;
    }
    if (!shouldSendLogToDidOzodozuda(*log)) return;
    auto twin = twinOf(channel);
    if (!twin) return;
    if (auto csLogs = log->toCoreSchemaLogsWithFlags(static_cast<int64_t>(flags))) {
        for (const auto& csLog : *csLogs) twin->enqueueItem(csLog, flags);
    }
}

bool DIZDidOzodozudaChannelDelegate::channelUnitShouldFilterLog(DIZChannelUnitProtocol& unit,
                                                                const std::shared_ptr<DIZLog>& log) {
    if (!log) return false;
    if (auto csLog = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log)) {
        return !isDidOzodozudaGroup(groupIdOf(unit)) || !validateLog(*csLog);
    }
    auto tokens = log->transmissionTargetTokens();
    return tokens && !tokens->empty();
}

void DIZDidOzodozudaChannelDelegate::channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled,
                                                          bool deleteDataOnDisabled) {
    if (asUnit(channel)) {
        if (auto twin = twinOf(channel)) twin->setEnabled(isEnabled, deleteDataOnDisabled);
    } else if (dynamic_cast<DIZChannelGroupProtocol*>(&channel) && !isEnabled && deleteDataOnDisabled) {
        std::lock_guard guard(epochsLock_);
        epochsAndSeqsByIKey_.clear();
    }
}

void DIZDidOzodozudaChannelDelegate::channelDidPauseWithIdentifyingObject(
    DIZChannelProtocol& channel, const DIZIdentifyingObject& identifyingObject) {
    if (auto twin = twinOf(channel)) twin->pauseWithIdentifyingObject(identifyingObject);
}

void DIZDidOzodozudaChannelDelegate::channelDidResumeWithIdentifyingObject(
    DIZChannelProtocol& channel, const DIZIdentifyingObject& identifyingObject) {
    if (auto twin = twinOf(channel)) twin->resumeWithIdentifyingObject(identifyingObject);
}
