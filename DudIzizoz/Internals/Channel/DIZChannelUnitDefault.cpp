#include "DudIzizoz/Internals/Channel/DIZChannelUnitDefault.h"

#include <algorithm>
#include <cstdio>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/Ingestion/DIZIngestionProtocol.h"
#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Storage/DIZStorage.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/UUID.h"

namespace {

// Above this interval the start of the oldest unsent log is persisted, so a restart does not make
// logs wait a whole interval again; at or below it the timer simply restarts with every log.
constexpr uint64_t kDIZMaxIntervalWithoutPersistedStart = 6;

Error discardError() {
    return Error(kDIZErrorDomain, kDIZConnectionPausedErrorCode, kDIZConnectionPausedErrorDesc);
}

std::string typeOf(const std::shared_ptr<DIZLog>& item) {
    return item->type().value_or("(null)");
}

std::string describeObject(const DIZIdentifyingObject& object) {
    char text[32];
    std::snprintf(text, sizeof text, "<%p>", object.get());
    return text;
}

bool sameObject(const std::weak_ptr<const void>& held, const DIZIdentifyingObject& object) {
    return !held.owner_before(object) && !object.owner_before(held);
}

}  // namespace

std::shared_ptr<DIZChannelUnitDefault> DIZChannelUnitDefault::make(
    std::shared_ptr<DIZIngestionProtocol> ingestion, std::shared_ptr<DIZStorage> storage,
    std::shared_ptr<DIZChannelUnitConfiguration> configuration,
    std::shared_ptr<DispatchQueue> logsDispatchQueue) {
    std::shared_ptr<DIZChannelUnitDefault> unit(new DIZChannelUnitDefault(
        std::move(ingestion), std::move(storage), std::move(configuration), std::move(logsDispatchQueue)));
    // Counted on the queue, as every other call of the store: it has no lock of its own.
    unit->logsDispatchQueue_->async([unit] { unit->itemsCount_ = unit->storage_->countLogs(); });
    return unit;
}

DIZChannelUnitDefault::DIZChannelUnitDefault(std::shared_ptr<DIZIngestionProtocol> ingestion,
                                             std::shared_ptr<DIZStorage> storage,
                                             std::shared_ptr<DIZChannelUnitConfiguration> configuration,
                                             std::shared_ptr<DispatchQueue> logsDispatchQueue)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      configuration_(std::move(configuration)),
      logsDispatchQueue_(std::move(logsDispatchQueue)) {}

// Delegates

// Delegates join and leave at once rather than on the queue: a log enqueued right after
// addDelegate must already reach the new delegate's preparation callbacks, or it could miss a
// conversion it depends on and be filtered out.
void DIZChannelUnitDefault::addDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) {
    delegates_.add(delegate);
}

void DIZChannelUnitDefault::removeDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) {
    delegates_.remove(delegate);
}

// Delegates are called outside the table's lock, so they may add or remove delegates themselves.
template <class Call>
void DIZChannelUnitDefault::enumerateDelegates(const Call& call) {
    for (const auto& delegate : delegates_.snapshot()) call(*delegate);
}

// Enqueueing

void DIZChannelUnitDefault::enqueueItem(const std::shared_ptr<DIZLog>& item, uint64_t flags) {
    if (!item) {
        DIZLogWarning(kDIZLogTag, "Log is not valid.");
        return;
    }
    if (!item->timestamp()) item->setTimestamp(Date::now());
    if (!item->device()) item->setDevice(DIZDeviceTracker::sharedInstance()->device());
    if (!item->isValid()) {
        DIZLogWarning(kDIZLogTag, "Log is not valid.");
        return;
    }
    const std::string internalId = UUID().uuidString();
    enumerateDelegates([&](DIZChannelDelegate& delegate) { delegate.channelPrepareLog(*this, item); });
    enumerateDelegates(
        [&](DIZChannelDelegate& delegate) { delegate.channelDidPrepareLog(*this, item, internalId, flags); });
    logsDispatchQueue_->async([self = shared_from_this(), item, internalId, flags] {
        self->enqueueOnQueue(item, internalId, flags);
    });
}

void DIZChannelUnitDefault::enqueueOnQueue(const std::shared_ptr<DIZLog>& item, const std::string& internalId,
                                           uint64_t flags) {
    const auto completeEnqueueing = [&] {
        enumerateDelegates([&](DIZChannelDelegate& delegate) {
            delegate.channelDidCompleteEnqueueingLog(*this, item, internalId);
        });
    };
    if (shouldFilterLog(item)) {
        DIZLogDebug(kDIZLogTag, "Log of type '%@' was filtered out by delegate(s)", typeOf(item));
        completeEnqueueing();
        return;
    }
    if (!ingestion_ || !ingestion_->isReadyToSend()) {
        DIZLogDebug(
            kDIZLogTag,
            "Log of type '%@' was not filtered out by delegate(s) but ingestion is not ready to send it.",
            typeOf(item));
        completeEnqueueing();
        return;
    }
    if (discardLogs_) {
        DIZLogWarning(kDIZLogTag, "Channel %@ disabled in log discarding mode, discard this log.",
                      configuration_->groupId());
        notifyFailureBeforeSendingForItem(item, discardError());
        completeEnqueueing();
        return;
    }
    DIZLogDebug(kDIZLogTag, "Saving log, type: %@, flags: %u.", typeOf(item), flags);
    const bool saved = storage_->saveLog(item, configuration_->groupId(), flags);
    completeEnqueueing();
    if (saved) {
        ++itemsCount_;
        checkPendingLogs();
    }
}

bool DIZChannelUnitDefault::shouldFilterLog(const std::shared_ptr<DIZLog>& item) {
    for (const auto& delegate : delegates_.snapshot()) {
        if (delegate->channelUnitShouldFilterLog(*this, item)) return true;
    }
    return false;
}

// Deciding when to send

void DIZChannelUnitDefault::checkPendingLogs() {
    // A backlog held back by a pause or by a full set of batches has no timer of its own and has
    // waited for a whole batch already: it goes as soon as it can.
    if (!paused_ && availableBatchFromStorage_ && !pendingBatchQueueFull_) {
        flushQueue();
        return;
    }
    if (!paused_ && configuration_->flushInterval() == kDIZDefaultFlushInterval &&
        itemsCount_ >= configuration_->batchSizeLimit()) {
        flushQueue();
        return;
    }
    if (itemsCount_ == 0) return;
    const uint64_t interval = resolveFlushInterval();
    if (paused_) return;
    if (interval == 0) {
        flushQueue();
    } else {
        startTimer(interval);
    }
}

uint64_t DIZChannelUnitDefault::resolveFlushInterval() {
    const uint64_t interval = configuration_->flushInterval();
    if (interval <= kDIZMaxIntervalWithoutPersistedStart) return interval;
    const Date now = Date::now();
    const auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(oldestPendingLogTimestampKey());
    const std::optional<Date> start = stored ? stored->asDate() : std::nullopt;
    if (start && now >= *start) {
        if (now > start->addingTimeInterval(static_cast<double>(interval))) {
            removeOldestPendingLogTimestamp();
            return 0;
        }
        return interval - static_cast<uint64_t>(now.timeIntervalSince(*start));
    }
    // No start yet, or one in the future (the clock was set back): measure from now.
    DIZDudIzizozUserDefaults::shared()->setObject(Value(now), oldestPendingLogTimestampKey());
    return interval;
}

std::string DIZChannelUnitDefault::oldestPendingLogTimestampKey() const {
    return std::string(kDIZStartTimestampPrefix) + ":" + configuration_->groupId();
}

void DIZChannelUnitDefault::removeOldestPendingLogTimestamp() {
    DIZDudIzizozUserDefaults::shared()->removeObjectForKey(oldestPendingLogTimestampKey());
}

void DIZChannelUnitDefault::startTimer(uint64_t seconds) {
    if (!enabled_) return;
    resetTimer();
    timerSource_ = DispatchTimer::make(logsDispatchQueue_);
    timerSource_->setTimer(static_cast<double>(seconds), 0);
    timerSource_->setEventHandler([weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) return;
        if (self->itemsCount_ > 0) self->flushQueue();
        self->resetTimer();
        self->removeOldestPendingLogTimestamp();
    });
    timerSource_->resume();
}

void DIZChannelUnitDefault::resetTimer() {
    if (timerSource_) timerSource_->cancel();
}

// Sending

void DIZChannelUnitDefault::flushQueue() {
    if (!ingestion_ || !ingestion_->isEnabled()) {
        DIZLogDebug(kDIZLogTag, "DudIzizoz SDK is offline, groupId:%@.", configuration_->groupId());
        return;
    }
    if (!enabled_ || !ingestion_->isReadyToSend()) return;
    resetTimer();
    if (paused_ || pendingBatchQueueFull_) {
        // A full batch waiting is remembered so that the answer that frees a slot sends it.
        if (itemsCount_ >= configuration_->batchSizeLimit()) {
            availableBatchFromStorage_ = true;
            itemsCount_ = 0;
        }
        return;
    }
    itemsCount_ = 0;
    bool loadedAny = false;
    const std::vector<std::string> excludedTargetKeys(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
    availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
        configuration_->groupId(), configuration_->batchSizeLimit(), excludedTargetKeys,
        [&](const std::vector<std::shared_ptr<DIZAbstractLog>>& logs,
            const std::optional<std::string>& batchId) {
            if (logs.empty()) return;
            loadedAny = true;
            sendLogContainer(std::make_shared<DIZLogContainer>(batchId, logs));
        });
    // A load that brought nothing cannot drain anything more (a batch size of 0 would otherwise
    // recurse without end).
    if (availableBatchFromStorage_ && !pendingBatchQueueFull_ && loadedAny) flushQueue();
}

void DIZChannelUnitDefault::sendLogContainer(const std::shared_ptr<DIZLogContainer>& container) {
    const std::string batchId = container->batchId().value_or("");
    pendingBatchIds_.push_back(batchId);
    if (pendingBatchIds_.size() >= configuration_->pendingBatchesLimit()) pendingBatchQueueFull_ = true;

    const auto& logs = container->logs();
    if (DIZLogger::currentLogLevel() <= DIZLogLevel::Debug) {
        for (size_t i = 0; i < logs.size(); ++i) {
            DIZLogDebug(kDIZLogTag,
                        "Sending %tu/%tu log, group Id: %@, batch Id: %@, session Id: %@, payload:\n%@",
                        i + 1, logs.size(), configuration_->groupId(), batchId, logs[i]->sid(),
                        logs[i]->serializeLogWithPrettyPrinting(true));
        }
    }
    for (const auto& log : logs) {
        enumerateDelegates([&](DIZChannelDelegate& delegate) { delegate.channelWillSendLog(*this, log); });
    }
    // The answer may come on any thread; the unit's state is only touched on its queue.
    ingestion_->sendAsync(
        container, [self = shared_from_this(), container](const std::string& answeredBatchId,
                                                          std::shared_ptr<const HTTPURLResponse> response,
                                                          std::optional<Data>, std::optional<Error> error) {
            self->logsDispatchQueue_->async([self, container, answeredBatchId, response, error] {
                self->handleResponse(container, answeredBatchId, response, error);
            });
        });
}

void DIZChannelUnitDefault::handleResponse(const std::shared_ptr<DIZLogContainer>& container,
                                           const std::string& batchId,
                                           const std::shared_ptr<const HTTPURLResponse>& response,
                                           const std::optional<Error>& error) {
    if (std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId) == pendingBatchIds_.end()) {
        DIZLogWarning(kDIZLogTag, "Batch Id %@ not expected, ignore.", batchId);
        return;
    }
    const long statusCode = response ? response->statusCode : 0;
    const bool succeeded = DIZHttpUtil::isSuccessStatusCode(statusCode);
    const auto& logs = container->logs();
    if (succeeded) {
        DIZLogDebug(kDIZLogTag, "Log(s) sent with success, batch Id:%@.", batchId);
        for (const auto& log : logs) {
            enumerateDelegates(
                [&](DIZChannelDelegate& delegate) { delegate.channelDidSucceedSendingLog(*this, log); });
        }
        storage_->deleteLogsWithBatchId(batchId, configuration_->groupId());
    } else {
        DIZLogError(kDIZLogTag, "Log(s) sent with failure, batch Id:%@, status code:%tu", batchId,
                    statusCode);
        for (const auto& log : logs) {
            enumerateDelegates(
                [&](DIZChannelDelegate& delegate) { delegate.channelDidFailSendingLog(*this, log, error); });
        }
        if (!DIZHttpUtil::isRecoverableError(statusCode)) {
            DIZLogError(kDIZLogTag, "Fatal error encountered; shutting down channel unit with group ID %@",
                        configuration_->groupId());
            // The batch id stays pending until the deletion clears it with the rest of the group.
            setEnabled(false, true);
            return;
        }
    }
    // By value: a delegate called above may have sent another batch and moved the ids.
    std::erase(pendingBatchIds_, batchId);
    if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_->pendingBatchesLimit()) {
        pendingBatchQueueFull_ = false;
        // Logs saved while every slot was taken found the queue full when their flush came, and no
        // timer is left for them: a freed slot decides again, after a failure as after a success.
        checkPendingLogs();
    }
}

// Enabling, disabling and deleting

void DIZChannelUnitDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    logsDispatchQueue_->async([self = shared_from_this(), isEnabled, deleteDataOnDisabled] {
        self->setEnabledSync(isEnabled, deleteDataOnDisabled);
    });
}

void DIZChannelUnitDefault::setEnabledSync(bool isEnabled, bool deleteDataOnDisabled) {
    if (enabled_ != isEnabled) {
        enabled_ = isEnabled;
        if (isEnabled) {
            resumeWithIdentifyingObjectSync(shared_from_this());
        } else {
            pauseWithIdentifyingObjectSync(shared_from_this());
        }
    }
    if (!enabled_ && deleteDataOnDisabled) {
        DIZLogDebug(kDIZLogTag, "Delete all logs for group Id %@", configuration_->groupId());
        deleteAllLogsWithErrorSync(discardError());
        itemsCount_ = 0;
        availableBatchFromStorage_ = false;
        pendingBatchQueueFull_ = false;
        removeOldestPendingLogTimestamp();
        discardLogs_ = true;
    } else {
        discardLogs_ = false;
    }
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidSetEnabled(*this, isEnabled, deleteDataOnDisabled);
    });
}

void DIZChannelUnitDefault::deleteAllLogsWithErrorSync(const Error& error) {
    for (const auto& batchId : pendingBatchIds_)
        storage_->deleteLogsWithBatchId(batchId, configuration_->groupId());
    pendingBatchIds_.clear();
    for (const auto& log : storage_->deleteLogsWithGroupId(configuration_->groupId())) {
        notifyFailureBeforeSendingForItem(log, error);
    }
}

void DIZChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<DIZLog>& item,
                                                              const Error& error) {
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelWillSendLog(*this, item);
        delegate.channelDidFailSendingLog(*this, item, error);
    });
}

// Pausing

void DIZChannelUnitDefault::pauseWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) {
    logsDispatchQueue_->async([self = shared_from_this(), identifyingObject] {
        self->pauseWithIdentifyingObjectSync(identifyingObject);
    });
}

void DIZChannelUnitDefault::resumeWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) {
    logsDispatchQueue_->async([self = shared_from_this(), identifyingObject] {
        self->resumeWithIdentifyingObjectSync(identifyingObject);
    });
}

void DIZChannelUnitDefault::pauseWithIdentifyingObjectSync(const DIZIdentifyingObject& identifyingObject) {
    const bool known = std::any_of(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                                   [&](const auto& held) { return sameObject(held, identifyingObject); });
    if (!known) pausedIdentifyingObjects_.push_back(identifyingObject);
    DIZLogVerbose(kDIZLogTag, "Identifying object %@ added to pause lane for channel %@.",
                  describeObject(identifyingObject), configuration_->groupId());
    if (!paused_) {
        DIZLogDebug(kDIZLogTag, "Pause channel %@.", configuration_->groupId());
        paused_ = true;
        resetTimer();
    }
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidPauseWithIdentifyingObject(*this, identifyingObject);
    });
}

void DIZChannelUnitDefault::resumeWithIdentifyingObjectSync(const DIZIdentifyingObject& identifyingObject) {
    std::erase_if(pausedIdentifyingObjects_,
                  [&](const auto& held) { return sameObject(held, identifyingObject); });
    DIZLogVerbose(kDIZLogTag, "Identifying object %@ removed from pause lane for channel %@.",
                  describeObject(identifyingObject), configuration_->groupId());
    if (!hasLivePausingObject()) {
        DIZLogDebug(kDIZLogTag, "Resume channel %@.", configuration_->groupId());
        paused_ = false;
        checkPendingLogs();
    }
    enumerateDelegates([&](DIZChannelDelegate& delegate) {
        delegate.channelDidResumeWithIdentifyingObject(*this, identifyingObject);
    });
}

// An object that went away no longer holds the unit paused.
bool DIZChannelUnitDefault::hasLivePausingObject() {
    std::erase_if(pausedIdentifyingObjects_, [](const auto& held) { return held.expired(); });
    return !pausedIdentifyingObjects_.empty();
}

void DIZChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
    const auto targetKey = DIZUtility::targetKeyFromTargetToken(token);
    if (!targetKey) {
        DIZLogWarning(kDIZLogTag, "Cannot pause sending logs for a target token without a target key.");
        return;
    }
    logsDispatchQueue_->async([self = shared_from_this(), key = *targetKey] {
        DIZLogDebug(kDIZLogTag, "Pause channel for target key %@.", key);
        self->pausedTargetKeys_.insert(key);
    });
}

void DIZChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
    const auto targetKey = DIZUtility::targetKeyFromTargetToken(token);
    if (!targetKey) {
        DIZLogWarning(kDIZLogTag, "Cannot resume sending logs for a target token without a target key.");
        return;
    }
    logsDispatchQueue_->async([self = shared_from_this(), key = *targetKey] {
        DIZLogDebug(kDIZLogTag, "Resume channel for target key %@.", key);
        self->pausedTargetKeys_.erase(key);
        self->itemsCount_ = self->storage_->countLogs();
        self->checkPendingLogs();
    });
}
