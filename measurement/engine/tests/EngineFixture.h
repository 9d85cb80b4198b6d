#pragma once
// An engine of the test's own: a private home with real sqlite files, the manual clock, the shared
// recording monitor, a fresh worker queue per engine and the facade's load hooks run first. The
// process-wide facade starts fresh and is drained and reset at the end. Lines of the outside utility
// logger are recorded too.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMConsentSettingsUtil.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/ZDMScheduler.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMPersistedConfig.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/DatabaseFixture.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Runtime.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

class EngineFixture : public SharedMonitorFixture {
  protected:
    EngineFixture() {
        ZDMConsentSettingsUtil::resetForTesting();
        ZDMAnalytics::resetForTesting();
        registerMeasurementHooks();
        // The engine's tests run without the analytics interface unless they register it.
        Runtime::unregisterClass("VUZArezivodo");
        // Debug lines (7) are what tell the start's steps apart.
        ZIZSetLoggerLevel(kZIZLoggerLevelDebug);
    }
    ~EngineFixture() override {
        ZDMAnalytics::resetForTesting();
        if (ZDMMeasurement::hasSharedInstance()) drain(*ZDMMeasurement::sharedInstance());
        for (const auto& engine : engines_) drain(*engine);
        engines_.clear();
        ZDMMeasurement::resetSharedInstance();
        ZDMConsentSettingsUtil::resetForTesting();
    }

    // An engine over the shared persisted configuration, with no network; it has asked for
    // collection as its settings say, but the worker queue may not have acted yet.
    std::shared_ptr<ZDMMeasurement> makeEngine(const std::string& appID, bool collectionEnabled = true,
                                               bool deactivated = false,
                                               std::vector<std::string> safelistedEvents = {}) {
        auto scheduler = ZDMScheduler::initWithWorkerQueueLabel(ZDMScheduler::kWorkerQueueLabel);
        auto alarm = ZDMAlarm::make(scheduler->workerQueue(), ZDMMeasurement::kAlarmName);
        auto engine = ZDMMeasurement::initWithDatabaseName(
            ZDMMeasurement::kDatabaseName, ZDMPersistedConfig::sharedInstance(), nullptr,
            std::move(scheduler), std::move(alarm), appID, collectionEnabled, deactivated,
            std::move(safelistedEvents), nullptr);
        if (engine) engines_.push_back(engine);
        return engine;
    }
    // Waits until the worker queue has run what was scheduled so far and what that scheduled in turn
    // (a failed enable schedules its disable).
    static void drain(ZDMMeasurement& engine) {
        for (int round = 0; round < 3; ++round)
            engine.scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [] {});
    }
    // Waits until what was handed to the facade has reached the shared engine and the engine has done it.
    static void settle() {
        for (int round = 0; round < 2; ++round) {
            const auto operations = ZDMAnalytics::operationQueue();
            if (!operations->isSuspended()) operations->waitUntilAllOperationsAreFinished();
            ZDMAnalytics::queue()->sync([] {});
            if (ZDMMeasurement::hasSharedInstance()) drain(*ZDMMeasurement::sharedInstance());
        }
    }
    static void onWorkerQueue(ZDMMeasurement& engine, const std::function<void()>& block) {
        engine.scheduler()->dispatchSyncOnWorkerQueueBlockID("test", block);
    }
    // A fresh install's start reports its first open and first session. Tests of what comes after
    // the start begin where a wipe leaves the engine (no rows, no properties, no session), and the
    // codes logged so far are left out of loggedInOrder and countOf.
    void forgetStartUpReports(ZDMMeasurement& engine) {
        drain(engine);
        onWorkerQueue(engine, [&] { EXPECT_TRUE(engine.wipeoutAnalyticsDataAndResetComponents()); });
        forgottenCodes_ = loggedCodes().size();
    }
    static std::string databasePath() { return ZDMMeasurementSupportFilePath(ZDMMeasurement::kDatabaseName); }
    static ZDMUserDefaults facadeSuite() { return ZDMUserDefaults(ZDMAnalytics::kSuiteName); }

    // Whether every code of `expected` was logged, in that order (others may come between).
    bool loggedInOrder(const std::vector<int64_t>& expected) {
        const auto codes = codesSinceStart();
        auto at = codes.begin();
        for (int64_t code : expected) {
            at = std::find(at, codes.end(), code);
            if (at == codes.end()) return false;
            ++at;
        }
        return true;
    }
    int64_t countOf(int64_t code) {
        const auto codes = codesSinceStart();
        return std::count(codes.begin(), codes.end(), code);
    }

    std::vector<std::string> utilityLines() {
        std::lock_guard lock(utilityMutex_);
        return utilityLines_;
    }
    // The codes of the "_err" events logged so far, in order.
    std::vector<int64_t> errorEventCodes() {
        std::lock_guard lock(errorsMutex_);
        return errorCodes_;
    }

  private:
    std::vector<int64_t> codesSinceStart() {
        auto codes = loggedCodes();
        codes.erase(codes.begin(), codes.begin() + std::min(forgottenCodes_, codes.size()));
        return codes;
    }

    size_t forgottenCodes_ = 0;
    std::vector<std::shared_ptr<ZDMMeasurement>> engines_;
    std::mutex utilityMutex_;
    std::vector<std::string> utilityLines_;
    ZIZLoggerCapture utilityCapture_{[this](int, const std::string& line) {
        std::lock_guard lock(utilityMutex_);
        utilityLines_.push_back(line);
    }};
    std::mutex errorsMutex_;
    std::vector<int64_t> errorCodes_;
    Cancellable errorObserver_ = ZDMAnalytics::addInternalEventObserver(
        [this](const std::string&, const std::string& name, const Dictionary& parameters) {
            if (name != "_err") return;
            const Value& code = parameters["_err"];
            const auto wrapped = code.objectAs<ZDMValue>();
            std::lock_guard lock(errorsMutex_);
            errorCodes_.push_back(wrapped ? wrapped->int64Value() : code.integerOr(-1));
        });
};
