#pragma once
// The measurement library's logging and health-monitoring sink. Every report has a level 0-8 and a
// numeric message code (blocks of 1000 per area of the library) and may carry context objects. A
// loggable report becomes a console line; a monitorable one (an error or warning) feeds a one-entry
// random sample kept in the monitor's own defaults suite, which the engine attaches to outgoing
// data once per sample period.
//
// Levels:  0-2 "ERROR", 3-5 "WARNING", 6 "NOTICE", 7 "DEBUG", 8 verbose (needs verbose logging);
//          2 and 5 are silent (sampled only), 0 and 3 never sampled, 1 and 4 both.
//
// Callers may log from any thread. Console output and every sample update, save, migration and
// load run in order on the serial queue "ZDMMonitorQueue"; dispatch and clearing wait for it, so
// they come after every earlier report. Queued work holds the monitor weakly: reports after the
// monitor has gone are dropped.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/foundation/ZDMLogging.h"
#include "measurement/foundation/ZDMMonitoringSampledData.h"
#include "platform/foundation/Value.h"

class DispatchQueue;
class ExceptionRecord;
class ZDMUserDefaults;

class ZDMMonitor : public std::enable_shared_from_this<ZDMMonitor> {
  public:
    // Level 6 with a console logger (initWithLibraryVersion:).
    static std::shared_ptr<ZDMMonitor> make(int64_t libraryVersion);
    // Reads the launch arguments and the stored mode flags unless the application comes from the
    // App Store; `random` draws for the sample.
    static std::shared_ptr<ZDMMonitor> make(
        int64_t logLevel, std::shared_ptr<ZDMLogging> logger, int64_t libraryVersion,
        ZDMMonitoringSampledData::RandomSource random = ZDMMonitoringSampledData::systemRandomSource());
    // The process-wide monitor, made on first use with the library's version number.
    static std::shared_ptr<ZDMMonitor> sharedMonitor();
    // Makes `monitor` the process-wide one until resetAllForTesting, so that a test sees what the
    // library's classes report.
    static void setSharedMonitorForTesting(std::shared_ptr<ZDMMonitor> monitor);

    static constexpr const char* kSuiteName = "com.zizoda.measurement.monitor";
    static constexpr const char* kHealthMonitorKey = "/zizoda/measurement/health_monitor";
    static constexpr const char* kMigrationStateKey = "/zizoda/measurement/monitor_migration_state";
    static constexpr const char* kDebugModeKey = "/zizoda/measurement/debug_mode";
    static constexpr const char* kVerboseLoggingKey = "/zizoda/measurement/verbose_logging";

    int64_t libraryVersion() const { return libraryVersion_; }
    int64_t logLevel() const { return logLevel_; }
    void setLogLevel(int64_t level) { logLevel_ = level; }
    // Switched on only when asked and the application is not from the App Store.
    void setDebugModeEnabled(bool enabled);
    bool isDebugModeEnabled() const { return debugModeEnabled_; }
    void setVerboseLoggingEnabled(bool enabled);
    bool isVerboseLoggingEnabled() const { return verboseLoggingEnabled_; }
    bool encodeContexts() const { return encodeContexts_; }
    void setEncodeContexts(bool encode) { encodeContexts_ = encode; }
    std::string logTag() const;
    void setLogTag(std::string tag);

    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context,
                      const Value& context2);
    void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const Value& context,
                      const Value& context2, const Value& context3);
    // The core operation; a null context stands for nil.
    void logWithContexts(int64_t level, int64_t messageCode, const std::string& message,
                         const Value::Array& contexts);

    // The sample's text when it is due (see ZDMMonitoringSampledData); waits for the queue.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                         double lastSampledTimestamp);
    // Drops the sample and the stored debug flag; waits for the queue.
    void clearMonitoringData();

    static std::optional<std::string> logLevelDescriptionFromLogLevel(int64_t level);
    static bool isSilentLevel(int64_t level);
    static bool isMonitorableLevel(int64_t level);
    // Contexts in the privacy-preserving form of the sample, joined by ", " or ",".
    static std::string encodedStringWithContextArray(const Value::Array& contexts, bool insertSpaces);
    static std::string stringWithLogMessage(const std::string& message, int64_t level,
                                            const Value::Array& contexts, bool encodeContexts);
    static std::string encodedStringWithContextObject(const Value& context);
    // The first frame of the exception's call stack that belongs to the library, else its name.
    static std::optional<std::string> lastZDMSymbolFromException(const ExceptionRecord* exception);
    // "1<E|W|?>_<version>:<message>".
    static std::string monitoringDataKeyWithMessage(const std::string& message, int64_t level,
                                                    int64_t libraryVersion);

  private:
    ZDMMonitor(int64_t logLevel, std::shared_ptr<ZDMLogging> logger, int64_t libraryVersion,
               ZDMMonitoringSampledData::RandomSource random);
    void readLaunchArgumentsAndStoredFlags();
    bool isLoggableLevel(int64_t level) const;

    // Queue-side steps.
    void loadMonitoringDataFromUserDefaultsOnMonitorQueue();
    void saveMonitoringDataToUserDefaultsOnMonitorQueue();
    void migrateMonitorDataOnMonitorQueue();
    void synchronizeToDiskOnMonitorQueue();
    void insertOrUpdateMonitoringDataWithMessage(const std::string& key, const std::string& encodedContext);
    void logToConsole(const std::string& text, int64_t messageCode, int64_t level);

    std::atomic<int64_t> logLevel_;
    const std::shared_ptr<ZDMLogging> logger_;
    std::unique_ptr<ZDMMonitoringSampledData> monitoringSampledData_;  // on the queue only
    const std::shared_ptr<DispatchQueue> monitorQueue_;
    const int64_t libraryVersion_;
    const std::shared_ptr<ZDMUserDefaults> monitorUserDefaults_;
    const ZDMMonitoringSampledData::RandomSource random_;
    std::atomic<bool> deferToZUDLogger_{false};
    std::atomic<bool> debugModeEnabled_{false};
    std::atomic<bool> verboseLoggingEnabled_{false};
    std::atomic<bool> encodeContexts_{false};
    mutable std::mutex logTagMutex_;
    std::string logTag_ = "<DidAdirezarido>";
};
