#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"

#include <algorithm>

#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitDefault.h"
#include "DudIzizoz/Internals/Ingestion/DIZDudIzizozIngestion.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UUID.h"

std::shared_ptr<DIZChannelGroupDefault> DIZChannelGroupDefault::make(
    std::shared_ptr<DIZHttpClientProtocol> httpClient, const UUID& installId, const std::string& logUrl) {
    return make(DIZDudIzizozIngestion::make(std::move(httpClient), logUrl, installId.uuidString()));
}

std::shared_ptr<DIZChannelGroupDefault> DIZChannelGroupDefault::make(
    std::shared_ptr<DIZDudIzizozIngestion> ingestion) {
    return std::shared_ptr<DIZChannelGroupDefault>(
        new DIZChannelGroupDefault(std::move(ingestion), std::make_shared<DIZLogDBStorage>()));
}

DIZChannelGroupDefault::DIZChannelGroupDefault(std::shared_ptr<DIZDudIzizozIngestion> ingestion,
                                               std::shared_ptr<DIZStorage> storage)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      logsDispatchQueue_(
          DispatchQueue::serial(std::string(kDIZSdkIdentifier) + kDIZChannelGroupQueueSuffix)) {}

// Units

std::shared_ptr<DIZChannelUnitProtocol> DIZChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<DIZChannelUnitConfiguration>& configuration) {
    return addChannelUnitWithConfiguration(configuration, nullptr);
}

std::shared_ptr<DIZChannelUnitProtocol> DIZChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<DIZChannelUnitConfiguration>& configuration,
    const std::shared_ptr<DIZIngestionProtocol>& ingestion) {
    if (!configuration) return nullptr;
    std::shared_ptr<DIZChannelUnitProtocol> unit =
        DIZChannelUnitDefault::make(ingestion ? ingestion : std::shared_ptr<DIZIngestionProtocol>(ingestion_),
                                    storage_, configuration, logsDispatchQueue_);
    unit->addDelegate(shared_from_this());
    // Logs left in the store by an earlier run are considered as soon as the unit exists.
    logsDispatchQueue_->async([unit] { unit->checkPendingLogs(); });
    {
        std::lock_guard lock(channelsLock_);
        channels_.push_back(unit);
    }
    enumerateDelegates(
        [&](DIZChannelDelegate& delegate) { delegate.channelGroupDidAddChannelUnit(*this, unit); });
    return unit;
}

std::shared_ptr<DIZChannelUnitProtocol> DIZChannelGroupDefault::channelUnitForGroupId(
    const std::string& groupId) const {
    std::lock_guard lock(channelsLock_);
    const auto found = std::find_if(channels_.begin(), channels_.end(), [&](const auto& unit) {
        return unit->configuration()->groupId() == groupId;
    });
    return found == channels_.end() ? nullptr : *found;
}

std::vector<std::shared_ptr<DIZChannelUnitProtocol>> DIZChannelGroupDefault::channels() const {
    std::lock_guard lock(channelsLock_);
    return channels_;
}

void DIZChannelGroupDefault::setMaxStorageSize(int64_t sizeInBytes,
                                               std::function<void(bool)> completionHandler) {
    logsDispatchQueue_->async(
        [storage = storage_, sizeInBytes, completionHandler = std::move(completionHandler)] {
            storage->setMaxStorageSize(sizeInBytes, completionHandler);
        });
}

// Switches

void DIZChannelGroupDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    if (ingestion_) ingestion_->setEnabled(isEnabled, deleteDataOnDisabled);
    for (const auto& unit : channels()) unit->setEnabled(isEnabled, deleteDataOnDisabled);
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidSetEnabled(*this, isEnabled, deleteDataOnDisabled);
    });
}

void DIZChannelGroupDefault::pauseWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(false, false);
    for (const auto& unit : channels()) unit->pauseWithIdentifyingObject(identifyingObject);
}

void DIZChannelGroupDefault::resumeWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(true, false);
    for (const auto& unit : channels()) unit->resumeWithIdentifyingObject(identifyingObject);
}

std::string DIZChannelGroupDefault::logUrl() const {
    return ingestion_ ? ingestion_->baseURL() : std::string();
}

void DIZChannelGroupDefault::setLogUrl(const std::string& logUrl) {
    if (ingestion_) ingestion_->setBaseURL(logUrl);
}

std::optional<std::string> DIZChannelGroupDefault::appSecret() const {
    return ingestion_ ? ingestion_->appSecret() : std::nullopt;
}

void DIZChannelGroupDefault::setAppSecret(std::optional<std::string> appSecret) {
    if (ingestion_) ingestion_->setAppSecret(std::move(appSecret));
}

// Delegates

void DIZChannelGroupDefault::addDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) {
    delegates_.add(delegate);
}

void DIZChannelGroupDefault::removeDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) {
    delegates_.remove(delegate);
}

// Delegates are called outside the table's lock, so a callback may add units or delegates.
template <class Call>
void DIZChannelGroupDefault::enumerateDelegates(const Call& call) const {
    for (const auto& delegate : delegates_.snapshot()) call(*delegate);
}

void DIZChannelGroupDefault::channelPrepareLog(DIZChannelProtocol& channel,
                                               const std::shared_ptr<DIZLog>& log) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) { delegate.channelPrepareLog(channel, log); });
}

void DIZChannelGroupDefault::channelDidPrepareLog(DIZChannelProtocol& channel,
                                                  const std::shared_ptr<DIZLog>& log,
                                                  const std::string& internalId, uint64_t flags) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidPrepareLog(channel, log, internalId, flags);
    });
}

void DIZChannelGroupDefault::channelDidCompleteEnqueueingLog(DIZChannelProtocol& channel,
                                                             const std::shared_ptr<DIZLog>& log,
                                                             const std::string& internalId) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidCompleteEnqueueingLog(channel, log, internalId);
    });
}

void DIZChannelGroupDefault::channelWillSendLog(DIZChannelProtocol& channel,
                                                const std::shared_ptr<DIZLog>& log) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) { delegate.channelWillSendLog(channel, log); });
}

void DIZChannelGroupDefault::channelDidSucceedSendingLog(DIZChannelProtocol& channel,
                                                         const std::shared_ptr<DIZLog>& log) {
    enumerateDelegates(
        [&](DIZChannelDelegate& delegate) { delegate.channelDidSucceedSendingLog(channel, log); });
}

void DIZChannelGroupDefault::channelDidFailSendingLog(DIZChannelProtocol& channel,
                                                      const std::shared_ptr<DIZLog>& log,
                                                      const std::optional<Error>& error) {
    enumerateDelegates(
        [&](DIZChannelDelegate& delegate) { delegate.channelDidFailSendingLog(channel, log, error); });
}

void DIZChannelGroupDefault::channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled,
                                                  bool deleteDataOnDisabled) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidSetEnabled(channel, isEnabled, deleteDataOnDisabled);
    });
}

void DIZChannelGroupDefault::channelDidPauseWithIdentifyingObject(
    DIZChannelProtocol& channel, const DIZIdentifyingObject& identifyingObject) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidPauseWithIdentifyingObject(channel, identifyingObject);
    });
}

void DIZChannelGroupDefault::channelDidResumeWithIdentifyingObject(
    DIZChannelProtocol& channel, const DIZIdentifyingObject& identifyingObject) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidResumeWithIdentifyingObject(channel, identifyingObject);
    });
}

bool DIZChannelGroupDefault::channelUnitShouldFilterLog(DIZChannelUnitProtocol& unit,
                                                        const std::shared_ptr<DIZLog>& log) {
    const auto delegates = delegates_.snapshot();
    return std::any_of(delegates.begin(), delegates.end(),
                       [&](const auto& delegate) { return delegate->channelUnitShouldFilterLog(unit, log); });
}
