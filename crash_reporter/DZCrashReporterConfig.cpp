#include "crash_reporter/DZCrashReporterConfig.h"

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::defaultConfiguration() {
    return init();
}

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::init() {
    return initWithBasePath(std::nullopt);
}

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::initWithBasePath(
    std::optional<std::string> basePath) {
    return initWithSignalHandlerType(DZCrashReporterSignalHandlerTypeBSD,
                                     DZCrashReporterSymbolicationStrategyNone, true, std::move(basePath));
}

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::initWithSignalHandlerType(
    uint64_t signalHandlerType, uint64_t symbolicationStrategy) {
    return initWithSignalHandlerType(signalHandlerType, symbolicationStrategy, true, std::nullopt);
}

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::initWithSignalHandlerTypeBasePath(
    uint64_t signalHandlerType, uint64_t symbolicationStrategy, std::optional<std::string> basePath) {
    return initWithSignalHandlerType(signalHandlerType, symbolicationStrategy, true, std::move(basePath));
}

std::shared_ptr<DZCrashReporterConfig>
DZCrashReporterConfig::initWithSignalHandlerTypeUncaughtExceptionHandler(
    uint64_t signalHandlerType, uint64_t symbolicationStrategy, bool shouldRegisterUncaughtExceptionHandler) {
    return initWithSignalHandlerType(signalHandlerType, symbolicationStrategy,
                                     shouldRegisterUncaughtExceptionHandler, std::nullopt);
}

std::shared_ptr<DZCrashReporterConfig> DZCrashReporterConfig::initWithSignalHandlerType(
    uint64_t signalHandlerType, uint64_t symbolicationStrategy, bool shouldRegisterUncaughtExceptionHandler,
    std::optional<std::string> basePath) {
    return std::shared_ptr<DZCrashReporterConfig>(
        new DZCrashReporterConfig(signalHandlerType, symbolicationStrategy,
                                  shouldRegisterUncaughtExceptionHandler, std::move(basePath)));
}
