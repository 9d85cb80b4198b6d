#pragma once
// Shared by the experiment tests: a private home, a manual clock, a monitor that records what the
// experiment area reports, and builders of flags and snapshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/audiences/experiments/ZDMEManager.h"
#include "measurement/audiences/experiments/ZDMPBFlagWithNameAndValue.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

struct Report {
    int64_t level;
    int64_t code;
    std::string message;
    Value::Array contexts;
};

class RecordingMonitor : public ZDMEMonitor {
  public:
    RecordingMonitor() : ZDMEMonitor(nullptr) {}
    std::vector<Report> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::vector<int64_t> codes() const {
        std::vector<int64_t> codes;
        for (const auto& report : reports()) codes.push_back(report.code);
        return codes;
    }
    bool logged(int64_t code) const {
        auto all = codes();
        return std::find(all.begin(), all.end(), code) != all.end();
    }
    std::optional<Report> first(int64_t code) const {
        for (const auto& report : reports())
            if (report.code == code) return report;
        return std::nullopt;
    }

  protected:
    void logWithContexts(int64_t level, int64_t code, const std::string& message,
                         const Value::Array& contexts) override {
        std::lock_guard lock(mutex_);
        reports_.push_back({level, code, message, contexts});
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
};

class ExperimentTest : public ::testing::Test {
  protected:
    ExperimentTest() {
        resetAllForTesting();
        ZDMEManager::setMonitorForTesting(monitor_);
    }
    ~ExperimentTest() override { resetAllForTesting(); }

    static ZDMEFlag flag(const std::string& name, const Value& value) {
        return ZDMPBFlagWithNameAndValue(Value(name), value);
    }
    static std::shared_ptr<ZDMEExperiment> experiment(int64_t ID, std::vector<ZDMEFlag> flags) {
        return ZDMEExperiment::initWithExperimentID(ID, flags);
    }
    // A snapshot with one flag "f<ID>" = ID per experiment ID.
    static std::shared_ptr<ZDMESnapshot> snapshot(const std::string& name, const std::vector<int64_t>& IDs) {
        std::vector<std::shared_ptr<ZDMEExperiment>> experiments;
        for (int64_t ID : IDs)
            experiments.push_back(experiment(ID, {flag("f" + std::to_string(ID), Value(ID))}));
        return ZDMESnapshot::initWithSDKName(name, experiments);
    }
    static std::vector<int64_t> IDsOf(const std::shared_ptr<ZDMESnapshot>& snapshot) {
        std::vector<int64_t> IDs;
        for (const auto& experiment : snapshot->experiments()) IDs.push_back(experiment->experimentID());
        return IDs;
    }

    TestHome home_;
    ScopedManualClock clock_{1767225600.0};
    std::shared_ptr<RecordingMonitor> monitor_ = std::make_shared<RecordingMonitor>();
};
