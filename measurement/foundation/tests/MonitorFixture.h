#pragma once
// A monitor in a private home, on the manual clock, with a console logger that records its lines
// and a scripted random source for the sample.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/foundation/ZDMLogging.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"

struct LoggedLine {
    std::string message;
    std::string tag;
    int64_t code;
    int64_t level;
};

class RecordingLogger : public ZDMLogging {
  public:
    void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                    int64_t logLevel) override {
        std::lock_guard lock(mutex_);
        lines_.push_back({message, logTag, messageCode, logLevel});
    }
    std::vector<LoggedLine> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<int64_t> codes() const {
        std::vector<int64_t> out;
        for (const auto& line : lines()) out.push_back(line.code);
        return out;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LoggedLine> lines_;
};

// Answers the scripted draws in order, then 0 (replace) once they run out.
class ScriptedRandom {
  public:
    explicit ScriptedRandom(std::vector<uint32_t> draws) : draws_(draws.begin(), draws.end()) {}
    ZDMMonitoringSampledData::RandomSource source() {
        return [this](uint32_t bound) {
            std::lock_guard lock(mutex_);
            bounds_.push_back(bound);
            if (draws_.empty()) return 0u;
            const uint32_t draw = draws_.front();
            draws_.pop_front();
            return draw;
        };
    }
    std::vector<uint32_t> bounds() const {
        std::lock_guard lock(mutex_);
        return bounds_;
    }

  private:
    mutable std::mutex mutex_;
    std::deque<uint32_t> draws_;
    std::vector<uint32_t> bounds_;
};

class MonitorFixture : public ::testing::Test {
  protected:
    static constexpr int64_t kVersion = 101300;

    MonitorFixture() {
        resetAllForTesting();
        ZIZSetLoggerLevel(kZIZLoggerLevelNotice);
        ProcessInfo::setArguments({"app"});
    }
    ~MonitorFixture() override {
        ProcessInfo::resetArguments();
        ZIZSetLoggerLevel(kZIZLoggerLevelNotice);
        resetAllForTesting();
    }

    std::shared_ptr<ZDMMonitor> makeMonitor(
        ZDMMonitoringSampledData::RandomSource random = ZDMMonitoringSampledData::systemRandomSource()) {
        return ZDMMonitor::make(6, logger_, kVersion, std::move(random));
    }
    // Waits for every report queued so far: a dispatch that is never due changes nothing.
    static void flush(ZDMMonitor& monitor) {
        EXPECT_FALSE(monitor.monitoringDataForDispatchWithSamplePeriod(1e12, 0));
    }
    static Value storedSample() {
        return ZDMUserDefaults(ZDMMonitor::kSuiteName)
            .objectForKey(ZDMMonitor::kHealthMonitorKey)
            .value_or(Value());
    }

    TestHome home_;
    ScopedManualClock clock_;
    std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
};

// Makes a recording monitor the process-wide one, so that a test sees what the library's classes
// report: console lines through logger_, and, since every report replaces the sample, the message of
// the last monitorable report (levels 1, 2, 4, 5) through lastSampledMessage().
class SharedMonitorFixture : public MonitorFixture {
  protected:
    SharedMonitorFixture() { ZDMMonitor::setSharedMonitorForTesting(monitor_); }
    ~SharedMonitorFixture() override { flush(*monitor_); }

    // "<E|W>:<message>" of the last monitorable report, empty when there was none.
    std::string lastSampledMessage() {
        flush(*monitor_);
        const Value sample = storedSample();
        if (!sample.asArray() || sample.asArray()->size() < 3) return {};
        const std::string key = (*sample.asArray())[2].stringOr("");
        const std::string prefix = "1E_" + std::to_string(kVersion) + ":";
        const std::string warning = "1W_" + std::to_string(kVersion) + ":";
        if (key.starts_with(prefix)) return "E:" + key.substr(prefix.size());
        if (key.starts_with(warning)) return "W:" + key.substr(warning.size());
        return key;
    }
    std::vector<int64_t> loggedCodes() {
        flush(*monitor_);
        return logger_->codes();
    }

    ScriptedRandom alwaysReplace_{{}};
    std::shared_ptr<ZDMMonitor> monitor_ = makeMonitor(alwaysReplace_.source());
};
