#pragma once
// The crash reporter the rest of the system talks to: it knows the application it reports for,
// owns the report directory with the pending report of the previous run, keeps the custom data that
// a crash report carries, and writes live reports of the running process on demand. Pending-report
// access is plain file work with no lock; custom data is set from ordinary code before a crash.
#include <signal.h>
#include <ucontext.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "crash_reporter/DZCrashReporterConfig.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/mach/mach_types.h"

// The callbacks the application hands the reporter before enabling it. `post_crash_callback` runs at
// crash time, after a report has been written, so it must be async-signal-safe.
struct DZCrashReporterCallbacks {
    uint16_t version;  // must be 0
    void* context;
    void (*post_crash_callback)(siginfo_t* info, ucontext_t* uap, void* context);
};

class DZCrashReporter {
  public:
    // For the main bundle with the default configuration.
    static std::shared_ptr<DZCrashReporter> init();
    static std::shared_ptr<DZCrashReporter> initWithConfiguration(
        std::shared_ptr<DZCrashReporterConfig> config);
    // The identifier is the bundle's, else the process name (with a warning); with neither it raises
    // an Exception named DZCrashReporterException. A missing version is logged and taken as "".
    static std::shared_ptr<DZCrashReporter> initWithBundle(const std::shared_ptr<Bundle>& bundle,
                                                           std::shared_ptr<DZCrashReporterConfig> config);
    static std::shared_ptr<DZCrashReporter> initWithApplicationIdentifier(
        std::string applicationIdentifier, std::string applicationVersion,
        std::optional<std::string> applicationMarketingVersion,
        std::shared_ptr<DZCrashReporterConfig> config);

    // <base>/<the reporter's own directory>/<identifier with "/" as "_">.
    const std::string& crashReportDirectory() const { return crashReportDirectory_; }
    std::string queuedCrashReportDirectory() const;
    std::string crashReportPath() const;
    // Creates the report directory and "queued_reports" in it, mode 0755, where missing.
    bool populateCrashReportDirectory(Error* error = nullptr) const;

    bool hasPendingCrashReport() const;
    // The pending report's bytes, read through a mapping; nullopt with the file system's error.
    std::optional<Data> loadPendingCrashReportData(Error* error = nullptr) const;
    bool purgePendingCrashReport(Error* error = nullptr) const;

    // A report of the running process, as if `thread` had crashed by a trace trap at the address
    // this call returns to. The calling thread appears only when it is the one named. Nothing is
    // left on disk.
    std::optional<Data> generateLiveReportWithThread(thread_t thread, Error* error = nullptr);
    // Of the calling thread.
    std::optional<Data> generateLiveReport(Error* error = nullptr);

    // Installs the crash handlers of the configured kind and prepares the report that a crash writes.
    // One reporter per process can be enabled, once: later attempts, on any reporter, fail with
    // DZCrashReporterErrorResourceBusy. A failure part-way leaves the handlers installed so far.
    bool enableCrashReporter(Error* error = nullptr);
    bool enableCrashReporterAndReturnError(Error* error) { return enableCrashReporter(error); }
    // Before enabling only: afterwards it raises an Exception named DZCrashReporterException. A
    // version other than 0 is fatal. Null clears the callbacks.
    void setCrashCallbacks(const DZCrashReporterCallbacks* callbacks);

    const std::optional<Data>& customData() const { return customData_; }
    // Also copied at once into the state a crash is written from, so a later crash carries it.
    void setCustomData(std::optional<Data> customData);

    // The strategy bits the crash-time symbol lookup knows.
    uint32_t mapToAsyncSymbolicationStrategy(uint64_t strategy) const;

    const std::shared_ptr<DZCrashReporterConfig>& config() const { return config_; }
    const std::string& applicationIdentifier() const { return applicationIdentifier_; }
    const std::string& applicationVersion() const { return applicationVersion_; }
    const std::optional<std::string>& applicationMarketingVersion() const {
        return applicationMarketingVersion_;
    }

  private:
    DZCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                    std::optional<std::string> applicationMarketingVersion,
                    std::shared_ptr<DZCrashReporterConfig> config);
    std::optional<Data> liveReport(thread_t thread, uint64_t returnAddress, Error* error);

    std::shared_ptr<DZCrashReporterConfig> config_;
    std::string applicationIdentifier_;
    std::string applicationVersion_;
    std::optional<std::string> applicationMarketingVersion_;
    std::string crashReportDirectory_;
    std::optional<Data> customData_;
    bool enabled_ = false;
};
