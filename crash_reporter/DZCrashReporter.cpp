#include "crash_reporter/DZCrashReporter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "crash_reporter/DZCrashSignalHandler.h"
#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/async/dzcrash_image_list.h"
#include "crash_reporter/dzcrash_crash_context.h"
#include "crash_reporter/dzcrash_fatal_signal.h"
#include "crash_reporter/dzcrash_log_writer.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FatalError.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SystemLog.h"

namespace fs = std::filesystem;

namespace {

// The reporter's own directory below the base; it never changes, so that the next launch finds the
// report a crash left.
constexpr const char* kReporterDirectoryName = "com.quorvane.crash-reporter";
constexpr const char* kPendingReportName = "live_report.dzcrash";
constexpr const char* kQueuedReportsName = "queued_reports";

// One reporter per process is enabled; the flag is never cleared, also when enabling fails.
std::mutex enableMutex;
bool reporterEnabled = false;

bool claimEnable() {
    std::lock_guard<std::mutex> lock(enableMutex);
    if (reporterEnabled) return false;
    reporterEnabled = true;
    return true;
}

void logLine(const std::string& text) {
    systemLog(SystemLogLevel::Info, "[DZCrashReporter] " + text);
}

std::optional<std::string> processName() {
    const auto arguments = ProcessInfo::arguments();
    if (arguments.empty()) return std::nullopt;
    std::string name = fs::path(arguments.front()).filename().string();
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<std::string> infoString(const Bundle& bundle, const std::string& key) {
    auto value = bundle.objectForInfoDictionaryKey(key);
    if (!value || !value->asString()) return std::nullopt;
    return *value->asString();
}

// The whole file through a read-only mapping; nullopt with errno set.
std::optional<Data> readMapped(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat status {};
    std::optional<Data> contents;
    if (fstat(fd, &status) != 0) {
        // errno as fstat left it
    } else if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
    } else if (status.st_size == 0) {
        contents = Data{};
    } else {
        const auto size = static_cast<size_t>(status.st_size);
        void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            const auto* bytes = static_cast<const uint8_t*>(mapped);
            contents = Data(bytes, bytes + size);
            munmap(mapped, size);
        }
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return contents;
}

struct LiveWrite {
    dzcrash_log_writer_state* writer;
    thread_t thread;
    dzcrash_report_sink* sink;
    const dzcrash_log_writer_signal* signal;
};

dzcrash_error_t writeWithCapturedState(dzcrash_async_thread_state* state, void* context) {
    auto* write = static_cast<LiveWrite*>(context);
    return dzcrash_log_writer_write(write->writer, write->thread, dzcrash_shared_image_list(), write->sink,
                                    write->signal, state);
}

}  // namespace

DZCrashReporter::DZCrashReporter(std::string applicationIdentifier, std::string applicationVersion,
                                 std::optional<std::string> applicationMarketingVersion,
                                 std::shared_ptr<DZCrashReporterConfig> config)
    : config_(config ? std::move(config) : DZCrashReporterConfig::defaultConfiguration()),
      applicationIdentifier_(std::move(applicationIdentifier)),
      applicationVersion_(std::move(applicationVersion)),
      applicationMarketingVersion_(std::move(applicationMarketingVersion)) {
    // The images loaded so far, and the loader's notifications from now on, before any report.
    dzcrash_shared_image_list();
    std::string component = applicationIdentifier_;
    for (char& c : component) {
        if (c == '/') c = '_';
    }
    const fs::path base =
        config_->basePath() ? fs::path(*config_->basePath()) : FileLocations::cachesDirectory();
    crashReportDirectory_ = (base / kReporterDirectoryName / component).string();
}

std::shared_ptr<DZCrashReporter> DZCrashReporter::init() {
    return initWithConfiguration(DZCrashReporterConfig::defaultConfiguration());
}

std::shared_ptr<DZCrashReporter> DZCrashReporter::initWithConfiguration(
    std::shared_ptr<DZCrashReporterConfig> config) {
    return initWithBundle(Bundle::mainBundle(), std::move(config));
}

std::shared_ptr<DZCrashReporter> DZCrashReporter::initWithBundle(
    const std::shared_ptr<Bundle>& bundle, std::shared_ptr<DZCrashReporterConfig> config) {
    std::optional<std::string> identifier = bundle ? infoString(*bundle, "CFBundleIdentifier") : std::nullopt;
    if (!identifier || identifier->empty()) {
        identifier = processName();
        if (!identifier) {
            throw Exception(DZCrashReporterException, "Can not determine process identifier or process name");
        }
        logLine("Warning -- bundle identifier, using process name " + *identifier);
    }
    std::optional<std::string> version = bundle ? infoString(*bundle, "CFBundleVersion") : std::nullopt;
    if (!version) {
        logLine("Warning -- bundle version unavailable");
        version = "";
    }
    std::optional<std::string> marketingVersion =
        bundle ? infoString(*bundle, "CFBundleShortVersionString") : std::nullopt;
    return initWithApplicationIdentifier(std::move(*identifier), std::move(*version),
                                         std::move(marketingVersion), std::move(config));
}

std::shared_ptr<DZCrashReporter> DZCrashReporter::initWithApplicationIdentifier(
    std::string applicationIdentifier, std::string applicationVersion,
    std::optional<std::string> applicationMarketingVersion, std::shared_ptr<DZCrashReporterConfig> config) {
    return std::shared_ptr<DZCrashReporter>(
        new DZCrashReporter(std::move(applicationIdentifier), std::move(applicationVersion),
                            std::move(applicationMarketingVersion), std::move(config)));
}

std::string DZCrashReporter::queuedCrashReportDirectory() const {
    return (fs::path(crashReportDirectory_) / kQueuedReportsName).string();
}

std::string DZCrashReporter::crashReportPath() const {
    return (fs::path(crashReportDirectory_) / kPendingReportName).string();
}

bool DZCrashReporter::populateCrashReportDirectory(Error* error) const {
    for (const std::string& directory : {crashReportDirectory_, queuedCrashReportDirectory()}) {
        std::error_code code;
        // Only a directory made here gets its mode: one that exists keeps what its owner gave it.
        if (!fs::is_directory(directory, code) && fs::create_directories(directory, code)) {
            fs::permissions(directory, fs::perms(0755), fs::perm_options::replace, code);
        }
        if (code) {
            dzcrash_make_posix_error(error, code.value(), "Failed to create the crash report directory");
            return false;
        }
    }
    return true;
}

bool DZCrashReporter::hasPendingCrashReport() const {
    std::error_code code;
    return fs::exists(crashReportPath(), code);
}

std::optional<Data> DZCrashReporter::loadPendingCrashReportData(Error* error) const {
    auto data = readMapped(crashReportPath());
    if (!data) dzcrash_make_posix_error(error, errno, "Failed to read the pending crash report");
    return data;
}

bool DZCrashReporter::purgePendingCrashReport(Error* error) const {
    if (unlink(crashReportPath().c_str()) == 0) return true;
    dzcrash_make_posix_error(error, errno, "Failed to remove the pending crash report");
    return false;
}

void DZCrashReporter::setCustomData(std::optional<Data> customData) {
    customData_ = std::move(customData);
    if (customData_) {
        dzcrash_log_writer_store_custom_data(&dzcrash_shared_crash_context()->writer, customData_->data(),
                                             customData_->size());
    } else {
        dzcrash_log_writer_store_custom_data(&dzcrash_shared_crash_context()->writer, nullptr, 0);
    }
}

bool DZCrashReporter::enableCrashReporter(Error* error) {
    if (!claimEnable()) {
        dzcrash_make_error(error, DZCrashReporterErrorResourceBusy,
                           "A DZCrashReporter instance has already been enabled");
        return false;
    }
    if (!populateCrashReportDirectory(error)) return false;

    dzcrash_crash_context* crash = dzcrash_shared_crash_context();
    free(crash->report_path);
    crash->report_path = strdup(crashReportPath().c_str());
    // Custom data set before enabling lives in the state; it is copied in again below.
    dzcrash_log_writer_release(&crash->writer);
    dzcrash_log_writer_init(&crash->writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                            applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                            mapToAsyncSymbolicationStrategy(config_->symbolicationStrategy()), false);
    if (customData_) {
        dzcrash_log_writer_store_custom_data(&crash->writer, customData_->data(), customData_->size());
    }

    if (config_->signalHandlerType() == DZCrashReporterSignalHandlerTypeBSD) {
        auto handler = DZCrashSignalHandler::sharedHandler();
        if (!handler) {
            dzcrash_make_posix_error(error, ENOMEM, "Could not initialize alternative signal stack");
            return false;
        }
        for (int signal : kDZCrashFatalSignals) {
            if (!handler->registerHandlerForSignal(signal, dzcrash_fatal_signal_callback, crash, error)) {
                return false;
            }
        }
    }
    if (config_->shouldRegisterUncaughtExceptionHandler()) {
        NSSetUncaughtExceptionHandler(dzcrash_uncaught_nsexception_handler);
    }
    enabled_ = true;
    return true;
}

void DZCrashReporter::setCrashCallbacks(const DZCrashReporterCallbacks* callbacks) {
    if (enabled_) throw Exception(DZCrashReporterException, "The crash reporter has already been enabled");
    if (!callbacks) {
        dzcrash_set_post_crash_callback(nullptr, nullptr);
        return;
    }
    if (callbacks->version != 0) fatalError("callbacks->version == 0");
    dzcrash_set_post_crash_callback(callbacks->post_crash_callback, callbacks->context);
}

uint32_t DZCrashReporter::mapToAsyncSymbolicationStrategy(uint64_t strategy) const {
    return static_cast<uint32_t>(strategy & DZCrashReporterSymbolicationStrategyAll);
}

// Not inlined: the address each public form returns to is the one its report names.
[[gnu::noinline]] std::optional<Data> DZCrashReporter::generateLiveReportWithThread(thread_t thread,
                                                                                    Error* error) {
    return liveReport(thread, reinterpret_cast<uint64_t>(__builtin_return_address(0)), error);
}

[[gnu::noinline]] std::optional<Data> DZCrashReporter::generateLiveReport(Error* error) {
    return liveReport(dzcrash_thread_self(), reinterpret_cast<uint64_t>(__builtin_return_address(0)), error);
}

std::optional<Data> DZCrashReporter::liveReport(thread_t thread, uint64_t returnAddress, Error* error) {
    const fs::path directory = FileLocations::temporaryDirectory();
    FileLocations::ensureDirectory(directory);
    std::string path = (directory / "live_crash_report.XXXXXX").string();
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        dzcrash_make_posix_error(error, errno, "Failed to create temporary path");
        return std::nullopt;
    }

    dzcrash_log_writer_state writer;
    dzcrash_log_writer_init(&writer, applicationIdentifier_.c_str(), applicationVersion_.c_str(),
                            applicationMarketingVersion_ ? applicationMarketingVersion_->c_str() : nullptr,
                            mapToAsyncSymbolicationStrategy(config_->symbolicationStrategy()), true);
    if (customData_) dzcrash_log_writer_store_custom_data(&writer, customData_->data(), customData_->size());
    dzcrash_report_sink sink;
    dzcrash_report_sink_init(&sink, fd, kDZCrashReportFileLimit);

    // SIGTRAP with TRAP_TRACE, in the report's numbering.
    const dzcrash_log_writer_signal signal{{5, 2, true}, returnAddress, nullptr};
    LiveWrite write{&writer, thread, &sink, &signal};
    const dzcrash_error_t result =
        thread == dzcrash_thread_self()
            ? dzcrash_async_thread_state_capture_current(writeWithCapturedState, &write)
            : dzcrash_log_writer_write(&writer, thread, dzcrash_shared_image_list(), &sink, &signal, nullptr);
    dzcrash_log_writer_finish(&writer);
    dzcrash_report_sink_flush(&sink);
    dzcrash_report_sink_close(&sink);

    std::optional<Data> report;
    if (result != DZCRASH_ESUCCESS) {
        logLine(std::string("Write failed with error ") + dzcrash_error_text(result));
        dzcrash_make_error(error, DZCrashReporterErrorUnknown, "Failed to write the crash report to disk");
    } else {
        report = readMapped(path);
        if (!report) {
            dzcrash_make_error(error, DZCrashReporterErrorUnknown,
                               "Unable to open live crash report for reading");
        }
    }
    dzcrash_log_writer_release(&writer);
    if (unlink(path.c_str()) != 0) {
        logLine(std::string("Failure occured deleting live crash report: ") + std::strerror(errno));
    }
    return report;
}
